// Windows: the arguments and the environment are read through the UTF-16 calls (the char
// versions give the ANSI code page, which loses every character outside it), and text for a
// console is written with WriteConsoleW. Files and pipes get the program's UTF-8 bytes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <iostream>
#include <streambuf>

#include "TextPlatform.h"
#include "com/runtime/ComText.h"

namespace tagscope::cli {

using velqor::com::AsOle;
using velqor::com::Utf16ToUtf8;
using velqor::com::Utf8ToUtf16;

namespace {

// A stream buffer writing UTF-8 to a console as UTF-16, a line (or a full buffer) at a time. A
// character split across two writes is held back until its last byte arrives.
class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) { setp(buffer_, buffer_ + kSize); }

  protected:
    int_type overflow(int_type ch) override {
        Write();
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
        if (ch == '\n') Write();
        return ch;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::streamsize put = std::streambuf::xsputn(s, n);
        if (std::string_view(s, size_t(put)).find('\n') != std::string_view::npos) Write();
        return put;
    }
    int sync() override { return Write() ? 0 : -1; }

  private:
    static constexpr int kSize = 4096;

    // Writes what is buffered up to its last whole character; false when the console refused it.
    bool Write() {
        const std::string_view text(pbase(), size_t(pptr() - pbase()));
        const size_t whole = CompleteUtf8Length(text);
        const std::u16string wide = Utf8ToUtf16(text.substr(0, whole));
        bool ok = true;
        for (size_t at = 0; at < wide.size() && ok;) {
            DWORD written = 0;
            ok = WriteConsoleW(console_, AsOle(wide.data() + at), DWORD(wide.size() - at), &written,
                               nullptr) &&
                 written > 0;
            at += written;
        }
        // The unfinished character moves to the front.
        const size_t rest = text.size() - whole;
        std::char_traits<char>::move(buffer_, pbase() + whole, rest);
        setp(buffer_, buffer_ + kSize);
        pbump(int(rest));
        return ok;
    }

    HANDLE console_;
    char buffer_[kSize];
};

// Points the stream at a console buffer when the handle is a console.
void ToConsole(DWORD which, std::ostream& stream) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode))
        return;  // a file, a pipe or nothing: bytes as they are
    // Lives until the end of the program: the streams are flushed after main returns.
    stream.rdbuf(new ConsoleBuffer(handle));
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> args =
        Utf8ArgumentsOf(count, reinterpret_cast<const char16_t* const*>(wide));
    LocalFree(wide);
    return args;
}

void UseUtf8Console() {
    ToConsole(STD_OUTPUT_HANDLE, std::cout);
    ToConsole(STD_ERROR_HANDLE, std::cerr);
}

std::optional<std::string> EnvironmentText(const std::string& name) {
    const std::u16string wideName = Utf8ToUtf16(name);
    std::u16string value(64, u'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(AsOle(wideName.c_str()), AsOle(value.data()),
                                                DWORD(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();  // set, but empty
        }
        if (n < value.size()) {
            value.resize(n);
            return Utf16ToUtf8(value);
        }
        value.resize(n);  // n counts the terminating zero here
    }
}

}  // namespace tagscope::cli
