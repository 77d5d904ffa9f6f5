// Where the command line meets the platform with text: its arguments, the console and the
// environment. The program works in UTF-8 throughout; these give it UTF-8 and show it. One file
// per platform (cli/platform): TextPosix.cpp (bytes as they come) or TextWindows.cpp (the
// system's UTF-16 calls).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagscope::cli {

// The program's arguments in UTF-8, the program's name first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Makes std::cout and std::cerr show UTF-8 text on a console; files and pipes keep getting the
// bytes unchanged. Call once, before anything is written.
void UseUtf8Console();
// An environment variable's value in UTF-8; nullopt when it is not set.
std::optional<std::string> EnvironmentText(const std::string& name);

// Platform-neutral parts (Utf8Text.cpp).
// UTF-16 arguments in UTF-8; an unpaired surrogate becomes U+FFFD.
std::vector<std::string> Utf8ArgumentsOf(int argc, const char16_t* const* argv);
// The length of text without an unfinished UTF-8 sequence at its end: a console writer keeps
// those bytes until the rest of the character arrives. Bytes that can never start or finish a
// character are left in, to be shown as U+FFFD.
size_t CompleteUtf8Length(std::string_view text);

}  // namespace tagscope::cli
