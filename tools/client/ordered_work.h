// Work on many files spread over threads, each result handed back on the calling thread in
// the order the work was given: what a command writes with N jobs is byte for byte what it
// writes with one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarrow2::tool {

// The number of jobs when none is asked for: one per core the system reports, at least one.
unsigned DefaultJobs();

class OrderedWork {
public:
    // What a task leaves for the calling thread: its output, its messages, its count.
    using Emit = std::function<void()>;
    // Runs on a worker, with objects of its own (no object is shared between two tasks).
    using Task = std::function<Emit()>;

    // One job runs each task at once on the calling thread, as a loop would.
    explicit OrderedWork(unsigned jobs);
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;
    // Tasks not yet started are dropped (an exception left the caller's loop).
    ~OrderedWork();

    // Queues the task, emits the results ready at the front, and waits while too many are
    // held, so that memory stays bounded however many tasks come. An exception a task
    // threw is thrown here, in its turn.
    void Add(Task task);
    // An emit with no work to wait for, in its place among the tasks' results.
    void AddReady(Emit emit);
    // Emits every remaining result, in order.
    void Finish();

private:
    struct Slot {
        Task task;
        Emit emit;
        std::exception_ptr error;
        bool done = false;
    };

    void Work();
    void EmitReady(std::unique_lock<std::mutex>& lock, size_t held);
    // Whether the results the caller waits for are all done.
    bool AwaitedReady() const;

    std::mutex mutex_;
    std::condition_variable taskAdded_;
    std::condition_variable taskDone_;
    std::deque<Slot> order_;     // every result not yet emitted, in order (stable addresses)
    std::deque<Slot*> waiting_;  // tasks no worker has taken yet
    size_t mostHeld_;
    size_t awaited_ = 0;  // the front results a waiting caller needs done, 0 when none waits
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace quarrow2::tool
