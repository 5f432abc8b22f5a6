// The engine's text command interface: a command line of the form name "(" arguments separated
// by "," ")" runs the engine operation its name gives and is answered with a text reply. Most
// commands repeat a typed export; a few (the soundcard, recorder and CD-drive lists, a deck's EQ
// settings) are the only way Java reads what they answer.
//
// Splitting (splitCommand), in indices of the text, L its length:
// - The name is the text before the first "("; without a "(", or when the text begins with one,
//   the whole text is the name.
// - The argument part runs from that "(" to the last character when that is a ")" (and L > 1),
//   else to the terminator. In it every "," or ")" ends an argument, so a text without a final
//   ")" loses what follows its last ","; an argument part of just "(" or "()" has no argument.
// - Nothing is trimmed, quoted or escaped.
// - A name or an argument of kCommandTextLimit characters or more, and more than
//   kCommandMaxArguments arguments, refuse the whole command. Characters are counted as UTF-8
//   code points, not bytes: a path of 1134 characters of accented folder names (2240 bytes) is
//   an argument like any other.
//
// Thread safety: everything a command works on is its own (per call); commands may run on several
// threads at once, and each engine operation takes the engine's locks itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Longest name or argument a command may carry is one character (code point) less than this.
constexpr std::size_t kCommandTextLimit = 2048;
// Most arguments a command may carry (no command word takes more than 6).
constexpr std::size_t kCommandMaxArguments = 256;

struct CommandLine {
    std::string name;
    std::vector<std::string> arguments;  // argument 1 is arguments[0]
};

// Splits `text` into its name and arguments by the rules above; false (and `out` unspecified)
// when the name or an argument is too long or there are too many arguments.
bool splitCommand(const char* text, CommandLine* out);

// Argument conversions the command words use.
// Decimal, as atoi reads it (leading blanks, optional sign, digits up to the first other
// character; 0 without digits); a value beyond int saturates at INT_MIN or INT_MAX.
int commandInt(const std::string& argument);
// As atof reads it.
double commandReal(const std::string& argument);
// True exactly for the four letters "true".
bool commandFlag(const std::string& argument);

// Runs one command and returns its reply. Every call first writes
// "Don't use commands (<text>) use JNI instead!\n" to the debug log. A command that no word takes
// (an unknown word, one in the wrong case, a wrong argument count, a text refused by
// splitCommand) prints "Couldn't interprete this command << <text> >>!\n" to standard output and
// replies "". The reply is 8-bit text and need not be valid UTF-8 (device names are the drivers').
std::string runCommand(const char* text);

// The device lists as the list commands join them: the names joined by ",", each "," inside a
// name written "\," when `escape` is set, into a text of fewer than `limit` characters: a name
// that would not fit ends the list there, so it never ends in a part of a name. Each name is read
// up to its terminator or `nameBytes`, whichever comes first.
std::string joinCommandList(const char* const* names, int count, std::size_t nameBytes, std::size_t limit,
                            bool escape);
