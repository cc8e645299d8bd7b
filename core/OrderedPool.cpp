#include "OrderedPool.h"

#include <system_error>

COrderedPool::COrderedPool(size_t threads)
{
    for (size_t k = 1; k < threads; ++k) {
        // A system out of threads or memory gives fewer helpers, not an end.
        try {
            m_helpers.emplace_back([this] { Helper(); });
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
}

COrderedPool::~COrderedPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_changed.notify_all();
    for (std::thread& helper : m_helpers)
        helper.join();
}

bool COrderedPool::Claim(Batch& batch, size_t& index)
{
    if (batch.bStop || batch.next >= batch.count || batch.next >= batch.taken + batch.window)
        return false;
    index = batch.next++;
    return true;
}

void COrderedPool::DoWork(Batch& batch, size_t index, std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    std::exception_ptr error;
    try {
        batch.work(index);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error) {
        if (!batch.error)
            batch.error = error;
        batch.bStop = true;
    } else {
        batch.done[index % batch.window] = 1;
    }
    m_changed.notify_all();
}

void COrderedPool::Helper()
{
    std::unique_lock lock(m_mutex);
    size_t seen = 0;  // the generation before the first batch, which may start before this thread does
    for (;;) {
        m_changed.wait(lock, [&] { return m_bQuit || m_nGeneration != seen; });
        if (m_bQuit)
            return;
        seen = m_nGeneration;
        if (!m_pBatch)
            continue;  // woken after that batch had already ended
        Batch& batch = *m_pBatch;
        ++m_nBusy;
        for (;;) {
            size_t index;
            if (Claim(batch, index)) {
                DoWork(batch, index, lock);
                continue;
            }
            if (batch.bStop || batch.next >= batch.count)
                break;
            m_changed.wait(lock);
        }
        --m_nBusy;
        m_changed.notify_all();
    }
}

void COrderedPool::RunBatch(Batch& batch, const std::function<void(size_t index)>& extract,
                            const std::function<bool(size_t index)>& take)
{
    std::unique_lock lock(m_mutex);
    m_pBatch = &batch;
    ++m_nGeneration;
    m_changed.notify_all();
    for (size_t index = 0; index < batch.count && !batch.bStop;) {
        size_t claimed;
        if (batch.done[index % batch.window]) {
            bool goOn = false;
            std::exception_ptr error;
            try {
                extract(index);
            } catch (...) {
                error = std::current_exception();
            }
            batch.done[index % batch.window] = 0;
            batch.taken = ++index;
            m_changed.notify_all();
            lock.unlock();
            try {
                if (!error)
                    goOn = take(index - 1);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error && !batch.error)
                batch.error = error;
            batch.bStop = batch.bStop || !goOn;
        } else if (Claim(batch, claimed)) {
            DoWork(batch, claimed, lock);
        } else {
            m_changed.wait(lock);
        }
    }
    batch.bStop = true;
    m_changed.notify_all();
    // Every helper leaves the batch before it goes out of scope.
    m_changed.wait(lock, [&] { return m_nBusy == 0; });
    m_pBatch = nullptr;
    if (batch.error)
        std::rethrow_exception(batch.error);
}
