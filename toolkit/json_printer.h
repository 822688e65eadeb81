#pragma once
// Writes values as the compact JSON the server emits: no white space, numbers as "%g" with six
// significant digits and '.' as the decimal point, strings between double quotes unescaped
// (the peers' parser reads a string up to the next double quote).
#include <ostream>

#include "toolkit/json_value.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class LuJSonPrinter {
public:
    // Something that can write itself as JSON. Writers are short-lived wrappers around a
    // reference to the value they print.
    class ValueWriter {
    public:
        virtual ~ValueWriter() = default;
        virtual void write(std::ostream& out) const = 0;
    };

    class JSonValueWriter;
    class IntWriter;
    class DoubleWriter;
    class StrWriter;
    class IntArrayWriter;
    class StrArrayWriter;

    static void writeNumber(std::ostream& out, double value);
    static void writeString(std::ostream& out, const LuStr& text);
    static void writeValue(std::ostream& out, const LuJSonValue& value);

    // Writes count elements between square brackets, separated by commas; the closing bracket
    // is written even when writing an element throws.
    template <class Each>
    static void writeArray(std::ostream& out, int count, Each writeElement);
};

class LuJSonPrinter::JSonValueWriter : public ValueWriter {
public:
    explicit JSonValueWriter(const LuJSonValue& value) : value(value) {}
    void write(std::ostream& out) const override { writeValue(out, value); }

private:
    const LuJSonValue& value;
};

// An int is written as a number, so 1000000 prints 1e+06.
class LuJSonPrinter::IntWriter : public ValueWriter {
public:
    explicit IntWriter(int value) : value(value) {}
    void write(std::ostream& out) const override { writeNumber(out, value); }

private:
    int value;
};

class LuJSonPrinter::DoubleWriter : public ValueWriter {
public:
    explicit DoubleWriter(double value) : value(value) {}
    void write(std::ostream& out) const override { writeNumber(out, value); }

private:
    double value;
};

class LuJSonPrinter::StrWriter : public ValueWriter {
public:
    explicit StrWriter(const LuStr& value) : value(value) {}
    void write(std::ostream& out) const override { writeString(out, value); }

private:
    const LuStr& value;
};

class LuJSonPrinter::IntArrayWriter : public ValueWriter {
public:
    explicit IntArrayWriter(const LuDArray<int>& values) : values(values) {}
    void write(std::ostream& out) const override;

private:
    const LuDArray<int>& values;
};

class LuJSonPrinter::StrArrayWriter : public ValueWriter {
public:
    explicit StrArrayWriter(const LuDArray<LuStr>& values) : values(values) {}
    void write(std::ostream& out) const override;

private:
    const LuDArray<LuStr>& values;
};

template <class Each>
void LuJSonPrinter::writeArray(std::ostream& out, int count, Each writeElement) {
    out << '[';
    try {
        for (int i = 0; i < count; ++i) {
            if (i) out << ',';
            writeElement(i);
        }
    } catch (...) {
        out << ']';
        throw;
    }
    out << ']';
}

inline std::ostream& operator<<(std::ostream& out, const LuJSonPrinter::ValueWriter& writer) {
    writer.write(out);
    return out;
}

// The compact JSON text of a value.
LuStr toJSon(const LuJSonValue& value);
LuStr toJSon(const LuJSonPrinter::ValueWriter& writer);
