// The check of a finished output before it gets its name: the file is opened again as any reader
// would open it, every packet is read and every sound stream decoded to its last sample, and the
// length found is compared with the length that was expected. A file that cannot be opened, or
// whose length is short (or long) by more than one frame and 50 ms, fails the check.
//
// The length of a sound stream is the number of samples its decoder gives; that of any other
// stream is the span of its packets' timestamps (first start to last end). The file's length is
// that of its longest stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct AVFrame;

namespace zmconv {

struct OutputLength {
    int64_t us = 0;       // the file's length
    int64_t frame_us = 0; // the longest frame of any stream (one sound frame, one picture)
};

// How the sound is decoded. With threads above 1, a file with one sound stream, of a codec whose
// decoder gives each packet's sound as it is sent, is decoded a stretch of packets at a time on
// up to that many threads beside the reading: the length found is the one a single decoder
// finds, only sooner. A stretch ends at stretch_packets packets or stretch_bytes bytes.
struct ReadBack {
    int threads = 1;
    size_t stretch_packets = 1024;
    size_t stretch_bytes = size_t{4} << 20;
};

// Reads the file at path through as described above. Throws ConvError(Codec, "output check
// failed: ...") when it cannot be opened or read, ConvError(Interrupted) on a stop. Without
// `decode`, a sound stream's length is the span of its packets too (every packet is still read).
// With `sound`, every frame decoded of the file's first sound stream goes to it as well (the
// sound exactly as players get it, priming and padding dropped where the file says so), and the
// sound is decoded in order on the calling thread whatever `how` says.
OutputLength read_output_length(const std::string& path, bool decode = true,
                                const std::function<void(const AVFrame*)>& sound = {},
                                const ReadBack& how = {});

// How far the length read may lie from the expected one.
struct LengthAllowance {
    int64_t short_us = 0; // less than expected
    int64_t long_us = 0;  // more than expected (priming and padding the decoder does not drop)
};

// One frame or 50 ms, whichever is longer, either way; on the long side also extra_long_us (the
// encoder's delay where the container does not say so, and the last frame's padding).
LengthAllowance length_allowance(int64_t frame_us, int64_t extra_long_us);

// Throws ConvError(Codec, "output check failed: 2.1 s of 3.0 s") when got lies outside
// expected_us and its allowance.
void check_output_length(const OutputLength& got, int64_t expected_us,
                         const LengthAllowance& allowance);

// "2.1 s of 3.0 s": the length found and the one expected, in tenths of a second.
std::string length_failure_text(int64_t got_us, int64_t expected_us);

} // namespace zmconv
