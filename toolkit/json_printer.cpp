#include "toolkit/json_printer.h"

#include <cstdio>

#include "toolkit/locale_setup.h"
#include "toolkit/string_stream.h"

void LuJSonPrinter::writeNumber(std::ostream& out, double value) {
    // "%g" is what a stream in its default state writes; formatting it here keeps the output
    // the same whatever precision, flags or locale the caller's stream carries.
    char text[32];
    int n;
    {
        fy::CLocaleScope numbersInC;
        n = std::snprintf(text, sizeof text, "%g", value);
    }
    if (n > 0) out.write(text, n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1);
}

void LuJSonPrinter::writeString(std::ostream& out, const LuStr& text) {
    out << '"' << text << '"';
}

void LuJSonPrinter::writeValue(std::ostream& out, const LuJSonValue& value) {
    switch (value.kind()) {
    case LuJSonValue::Null: out << "null"; break;
    case LuJSonValue::Number: writeNumber(out, value.number()); break;
    case LuJSonValue::String: writeString(out, value.string()); break;
    case LuJSonValue::Array: {
        const LuJSonValue::ArrayType& elements = value.array();
        writeArray(out, elements.getSize(), [&](int i) { writeValue(out, elements[i]); });
        break;
    }
    case LuJSonValue::Object: {
        out << '{';
        try {
            bool first = true;
            for (const auto& [name, member] : value.object()) {
                if (!first) out << ',';
                first = false;
                writeString(out, name);
                out << ':';
                writeValue(out, member);
            }
        } catch (...) {
            out << '}';
            throw;
        }
        out << '}';
        break;
    }
    default: break;  // not a kind this system knows: nothing is written
    }
}

void LuJSonPrinter::IntArrayWriter::write(std::ostream& out) const {
    writeArray(out, values.getSize(), [&](int i) { writeNumber(out, values[i]); });
}

void LuJSonPrinter::StrArrayWriter::write(std::ostream& out) const {
    writeArray(out, values.getSize(), [&](int i) { writeString(out, values[i]); });
}

LuStr toJSon(const LuJSonValue& value) { return toJSon(LuJSonPrinter::JSonValueWriter(value)); }

LuStr toJSon(const LuJSonPrinter::ValueWriter& writer) {
    LuOSStream out;
    writer.write(out);
    return out.toLuStr();
}
