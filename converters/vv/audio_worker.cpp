#include "audio_worker.h"

#include "../common/errors.h"

namespace vv {

AudioWorker::AudioWorker(zmconv::AudioPath &path, std::mutex &muxLock, size_t capacity)
    : m_path(path), m_muxLock(muxLock), m_capacity(capacity == 0 ? 1 : capacity)
{
    m_thread = std::thread([this] { run(); });
}

AudioWorker::~AudioWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AudioWorker::push(const AVPacket *pkt)
{
    zmconv::PacketPtr copy = zmconv::make_packet();
    zmconv::check(av_packet_ref(copy.get(), pkt), zmconv::Failure::Codec, "out of memory");
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < m_capacity || m_done; });
    if (m_error)
        std::rethrow_exception(m_error);
    if (m_done)
        return; // the audio has reached its end; later packets are not needed
    m_queue.push_back(std::move(copy));
    lock.unlock();
    m_changed.notify_all();
}

void AudioWorker::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_end = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_error)
        std::rethrow_exception(m_error);
}

void AudioWorker::run()
{
    try {
        for (;;) {
            zmconv::PacketPtr pkt;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_abort || m_end || !m_queue.empty(); });
                if (m_abort)
                    break;
                if (m_queue.empty()) {
                    // m_end and nothing left: drain the path.
                    lock.unlock();
                    std::lock_guard mux(m_muxLock);
                    m_path.finish();
                    break;
                }
                pkt = std::move(m_queue.front());
                m_queue.pop_front();
            }
            m_changed.notify_all();
            std::lock_guard mux(m_muxLock);
            m_path.send_packet(pkt.get());
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
    }
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_queue.clear();
    }
    m_changed.notify_all();
}

} // namespace vv
