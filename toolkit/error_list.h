#pragma once
// The list of error and warning texts, newest first, through which toolkit and socket code
// hands failures to a caller that must see them as text (the server core passes the newest one
// to the host). One list is process-wide; callers may keep lists of their own.
#include <iosfwd>

#include "toolkit/lu_str.h"

// One entry of an LuExceptionHandler list.
class LuErrorEntry {
public:
    bool isWarning() const { return warning; }
    LuStr message() const { return text; }
    const LuErrorEntry* next() const { return older; }

private:
    friend class LuExceptionHandler;
    LuErrorEntry(bool isWarning, const LuStr& message, LuErrorEntry* next)
        : warning(isWarning), text(message), older(next) {}

    bool warning;
    LuStr text;
    LuErrorEntry* older;
};

// A list of error and warning entries, newest first.
class LuExceptionHandler {
public:
    LuExceptionHandler() = default;
    ~LuExceptionHandler() { clear(); }
    LuExceptionHandler(const LuExceptionHandler&) = delete;
    LuExceptionHandler& operator=(const LuExceptionHandler&) = delete;

    static LuExceptionHandler& processWide();

    // printf-style; the message is cut to 1023 characters. The forms without a list push onto
    // the process-wide one.
    static void addError(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void addError(LuExceptionHandler& list, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static void addError(LuExceptionHandler& list, const LuStr& message) { list.pushError(message); }
    static void addError(const LuStr& message) { processWide().pushError(message); }
    static void addWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void addWarning(LuExceptionHandler& list, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static void addWarning(LuExceptionHandler& list, const LuStr& message) { list.pushWarning(message); }
    static void addWarning(const LuStr& message) { processWide().pushWarning(message); }

    void pushError(const LuStr& message) { push(false, message); }
    void pushWarning(const LuStr& message) { push(true, message); }

    bool isEmpty() const { return head == nullptr; }
    // True when the newest entry is an error; older errors behind a warning do not count.
    bool hasError() const { return head && !head->isWarning(); }
    const LuErrorEntry* newest() const { return head; }
    void clear();
    // Writes the list to standard error, empties it and returns what hasError() said before.
    bool flush();

    // "ERROR: " / "WARNING: " before each message, its further lines indented to stand under
    // the text, newest entry first.
    void print(std::ostream& out) const;

private:
    void push(bool isWarning, const LuStr& message);

    LuErrorEntry* head = nullptr;
};

std::ostream& operator<<(std::ostream& out, const LuExceptionHandler& list);
