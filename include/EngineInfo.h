// Fixed answers of the engine library that need no engine state: its version text, the text of a
// fresh identifier, and the list of playable file types. Shared by the typed exports and the text
// command interface, which must answer the same.
//
// Thread safety: pure functions; the extension lists are constants.
#pragma once

// "2.7.0.67-64" in the 64-bit library, "2.7.0.67-32" in a 32-bit build.
const char* engineVersion();

// Room for an identifier's text: 36 characters and the terminator.
constexpr int kUuidTextSize = 37;

// 16 bytes as lower-case hexadecimal pairs, with "-" after the 4th, 6th, 8th and 10th byte:
// groups of 8-4-4-4-12 characters.
void formatUuid(const unsigned char bytes[16], char text[kUuidTextSize]);

// The playable types, lower case, "|"-separated, without dots; "m4a" and "aac" only with the AAC
// plug-in. They are the types the engine's file-type check accepts.
const char* supportedAudioFileList(bool haveAACPlugin);
