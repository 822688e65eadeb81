#include "toolkit/error_list.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "toolkit/diagnostics.h"

namespace {

LuStr formatMessage(const char* format, va_list args) {
    char text[1024];
    int n = std::vsnprintf(text, sizeof text, format, args);
    if (n < 0) return LuStr("");
    return LuStr(text, static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n) : sizeof text - 1);
}

void printEntry(std::ostream& out, const LuErrorEntry& entry) {
    const char* prefix = entry.isWarning() ? "WARNING: " : "ERROR: ";
    const char* indent = entry.isWarning() ? "         " : "       ";
    out << prefix;
    LuStr message = entry.message();
    const char* s = message.c_str();
    for (; *s; ++s) {
        out << *s;
        if (*s == '\n' && s[1]) out << indent;
    }
    if (message.isEmpty() || s[-1] != '\n') out << '\n';
}

}  // namespace

LuExceptionHandler& LuExceptionHandler::processWide() {
    static LuExceptionHandler list;
    return list;
}

void LuExceptionHandler::addError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LuStr message = formatMessage(format, args);
    va_end(args);
    processWide().pushError(message);
}

void LuExceptionHandler::addError(LuExceptionHandler& list, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LuStr message = formatMessage(format, args);
    va_end(args);
    list.pushError(message);
}

void LuExceptionHandler::addWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LuStr message = formatMessage(format, args);
    va_end(args);
    processWide().pushWarning(message);
}

void LuExceptionHandler::addWarning(LuExceptionHandler& list, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LuStr message = formatMessage(format, args);
    va_end(args);
    list.pushWarning(message);
}

void LuExceptionHandler::push(bool isWarning, const LuStr& message) {
    head = new LuErrorEntry(isWarning, message, head);
}

void LuExceptionHandler::clear() {
    while (head) {
        LuErrorEntry* older = head->older;
        delete head;
        head = older;
    }
}

bool LuExceptionHandler::flush() {
    if (isEmpty()) return false;
    bool hadError = hasError();
    std::ostringstream text;
    print(text);
    fy::diagnostic("%s", text.str().c_str());
    clear();
    return hadError;
}

void LuExceptionHandler::print(std::ostream& out) const {
    for (const LuErrorEntry* e = head; e; e = e->next()) printEntry(out, *e);
}

std::ostream& operator<<(std::ostream& out, const LuExceptionHandler& list) {
    list.print(out);
    return out;
}
