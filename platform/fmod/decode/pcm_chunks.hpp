// Whether a WAV or AIFF file was cut short: its data chunk claims more bytes than the file holds.
// libsndfile quietly clamps such a chunk to the file, so the length it reports is the audio's,
// but nothing else tells an interrupted copy from a whole file.
#pragma once

#include <string>

namespace pw::decode {

// True when the file is a RIFF WAVE or an AIFF/AIFF-C file whose sample data chunk runs past the
// end of the file. A size of 0 or 0xFFFFFFFF (a writer that could not go back, as to a pipe)
// declares nothing and is never taken for a cut.
bool pcmDataChunkCut(const std::string& path);

}  // namespace pw::decode
