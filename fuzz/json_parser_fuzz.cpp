// Feeds arbitrary bytes to the JSON reader with the generic tree builder, then prints the tree
// and reads the printed text back: nothing may crash, and printed trees must read back alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/json_parser.h"
#include "toolkit/json_printer.h"

namespace {

// Counts reports so that building the messages is exercised too.
class CountingHandler : public LuJSonParser::ErrorHandler {
public:
    void error(LuJSonParser& parser, const LuStr& message) override { note(parser, message); }
    void warning(LuJSonParser& parser, const LuStr& message) override { note(parser, message); }
    int reports = 0;

private:
    void note(LuJSonParser& parser, const LuStr& message) {
        if (parser.position() < 0 || message.isEmpty()) std::abort();
        ++reports;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);  // adds the terminator
    CountingHandler errors;
    LuJSonValue value;
    bool ok = parseJSonValue(text.c_str(), value, errors);
    if (!ok && errors.reports == 0) std::abort();  // a failure is always reported
    LuStr printed = toJSon(value);
    // A parsed string never holds a double quote, so whatever was read prints to text that
    // reads back to the same tree, unless a number printed as inf or nan (not numbers to the
    // reader, which only takes a leading digit or minus sign).
    if (ok && printed.indexOf("inf") < 0 && printed.indexOf("nan") < 0) {
        LuJSonValue again;
        if (!parseJSonValue(printed.c_str(), again)) std::abort();
        if (!(toJSon(again) == printed)) std::abort();
    }
    return 0;
}
