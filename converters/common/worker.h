// One thread fed through a short bounded queue: the converters' only way of running work beside
// the reading thread (conv encodes sound beside decoding, vv converts sound beside the picture).
// The feeding side blocks while the queue is full; the thread and the feeder wake each other in
// batches, not once per item. An exception on the thread is kept and thrown again to the feeder
// at its next push() or at finish().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace zmconv {

template <class Item>
class BoundedWorker
{
public:
    using Handler = std::function<void(Item&)>;
    using Finisher = std::function<void()>;

    // handler runs on the thread for every item in order; finisher runs on it once, after the
    // last item, when finish() is called. The thread sleeps until wake_batch items wait.
    BoundedWorker(Handler handler, Finisher finisher, std::size_t capacity,
                  std::size_t wake_batch = 1)
        : m_handler(std::move(handler)), m_finisher(std::move(finisher)),
          m_capacity(capacity == 0 ? 1 : capacity),
          m_wake_batch(wake_batch == 0 ? 1 : (wake_batch > m_capacity ? m_capacity : wake_batch)),
          m_thread([this] { loop(); })
    {}
    // Without finish(): what is still queued is dropped and the thread ends.
    ~BoundedWorker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_abort = true;
        }
        m_items.notify_all();
        m_space.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;

    // Queues item; waits while the queue is full. Throws what the thread failed with.
    void push(Item item)
    {
        std::unique_lock lock(m_mutex);
        m_feeder_waiting = true;
        m_space.wait(lock, [this] { return m_queue.size() < m_capacity || m_done; });
        m_feeder_waiting = false;
        if (m_error)
            std::rethrow_exception(m_error);
        if (m_done)
            return;
        m_queue.push_back(std::move(item));
        if (m_queue.size() >= m_wake_batch)
            m_items.notify_one();
    }

    // Lets the thread work off the queue, run the finisher and end; throws what it failed with.
    void finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_end = true;
        }
        m_items.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        if (m_error)
            std::rethrow_exception(m_error);
    }

private:
    void loop()
    {
        try {
            for (;;) {
                Item item;
                {
                    std::unique_lock lock(m_mutex);
                    // Once awake, the thread works the queue off; asleep, it waits for a batch.
                    if (m_queue.empty())
                        m_items.wait(lock, [this] {
                            return m_abort || m_end || m_queue.size() >= m_wake_batch;
                        });
                    if (m_abort)
                        break;
                    if (m_queue.empty()) { // m_end and nothing left
                        lock.unlock();
                        if (m_finisher)
                            m_finisher();
                        break;
                    }
                    item = std::move(m_queue.front());
                    m_queue.pop_front();
                    if (m_feeder_waiting && m_queue.size() <= m_capacity / 2)
                        m_space.notify_one();
                }
                m_handler(item);
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
        m_space.notify_all();
    }

    Handler m_handler;
    Finisher m_finisher;
    const std::size_t m_capacity;
    const std::size_t m_wake_batch;
    std::mutex m_mutex;
    std::condition_variable m_items;
    std::condition_variable m_space;
    std::deque<Item> m_queue;
    std::exception_ptr m_error;
    bool m_end = false;   // no more items: work off the queue, finish and end
    bool m_abort = false; // end at once
    bool m_done = false;  // the thread has ended
    bool m_feeder_waiting = false;
    std::thread m_thread; // last: starts once the rest is ready
};

} // namespace zmconv
