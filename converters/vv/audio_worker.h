// Runs the audio path on a thread of its own, so the sound's decoding, resampling and encoding
// overlap the picture's instead of adding to it. Packets are handed over in demuxing order
// through a bounded queue; every write to the shared output happens under one mutex.
#pragma once

#include "../common/audio_path.h"
#include "../common/av_owner.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace vv {

class AudioWorker final {
public:
    // `muxLock` guards the output file both paths write into.
    AudioWorker(zmconv::AudioPath &path, std::mutex &muxLock, size_t capacity = 128);
    // Stops the thread (dropping what is still queued) if finish() was not called.
    ~AudioWorker();
    AudioWorker(const AudioWorker &) = delete;
    AudioWorker &operator=(const AudioWorker &) = delete;

    // Queues a reference to pkt; waits while the queue is full. Rethrows the error that
    // stopped the thread, if any.
    void push(const AVPacket *pkt);
    // Processes what is queued, drains the audio path and joins the thread. Rethrows its error.
    void finish();

private:
    void run();

    zmconv::AudioPath &m_path;
    std::mutex &m_muxLock;
    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<zmconv::PacketPtr> m_queue;
    bool m_end = false;     // no more packets will come: drain and stop
    bool m_abort = false;   // stop at once
    bool m_done = false;    // the thread has stopped
    std::exception_ptr m_error;
    std::thread m_thread;
};

} // namespace vv
