#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/glib/CGlibUiLoop.h"
#include "tests/fakes/CTestUiLoop.h"

using vexa::platform::IMessageTarget;
using vexa::platform::WM_TIMER;
using vexa::platform::WM_USER;

namespace {

struct Recorder : IMessageTarget {
    struct Got {
        std::uint32_t msg;
        std::uintptr_t w;
        std::uint64_t at;
    };
    vexa::platform::IUiLoop* loop = nullptr;
    std::vector<Got> got;
    void OnMessage(std::uint32_t msg, std::uintptr_t w, std::intptr_t) override {
        got.push_back({msg, w, loop->NowMs()});
    }
};

}  // namespace

TEST(TestUiLoop, TimersFireOnTheVirtualClockInDueOrderWithPostsInBetween) {
    vexa::testing::CTestUiLoop loop;
    Recorder r;
    r.loop = &loop;
    auto h = loop.AddTarget(&r);
    loop.SetTimer(h, 1, 100);
    loop.SetTimer(h, 2, 250);
    loop.PostMessage(h, WM_USER + 1, 7, 0);
    loop.RunFor(300);
    ASSERT_EQ(r.got.size(), 5u);
    EXPECT_EQ(r.got[0].msg, WM_USER + 1u);
    EXPECT_EQ(r.got[1].at, 100u);
    EXPECT_EQ(r.got[2].at, 200u);
    EXPECT_EQ(r.got[3].w, 2u);
    EXPECT_EQ(r.got[3].at, 250u);
    EXPECT_EQ(r.got[4].at, 300u);
    loop.KillTimer(h, 1);
    loop.RemoveTarget(h);
    EXPECT_FALSE(loop.PostMessage(h, WM_USER, 0, 0));
    loop.RunFor(1000);
    EXPECT_EQ(r.got.size(), 5u);
}

TEST(TestUiLoop, PostsFromAnotherThreadAreDeliveredOnTheLoopThread) {
    vexa::testing::CTestUiLoop loop;
    Recorder r;
    r.loop = &loop;
    auto h = loop.AddTarget(&r);
    std::thread poster([&] { loop.PostMessage(h, WM_USER + 100, 1, 0); });
    EXPECT_TRUE(loop.WaitForPosts(5000));
    poster.join();
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(r.got[0].w, 1u);
}

TEST(GlibUiLoop, PostsFromAWorkerRunOnTheLoopThreadInOrder) {
    vexa::platform::CGlibUiLoop loop;
    struct ThreadRecorder : IMessageTarget {
        std::vector<std::thread::id> threads;
        std::vector<std::uintptr_t> order;
        void OnMessage(std::uint32_t, std::uintptr_t w, std::intptr_t) override {
            threads.push_back(std::this_thread::get_id());
            order.push_back(w);
        }
    } r;
    auto h = loop.AddTarget(&r);
    // The loop is idle (nobody iterates it) while the worker posts.
    std::thread poster([&] {
        for (std::uintptr_t i = 0; i < 50; ++i) loop.PostMessage(h, WM_USER, i, 0);
    });
    poster.join();
    ASSERT_TRUE(loop.RunUntil([&] { return r.order.size() == 50; }, 5000));
    for (std::uintptr_t i = 0; i < 50; ++i) {
        EXPECT_EQ(r.order[i], i);
        EXPECT_EQ(r.threads[i], std::this_thread::get_id());
    }
}

TEST(GlibUiLoop, DeliversPostsAndTimersAndDropsMessagesForRemovedTargets) {
    vexa::platform::CGlibUiLoop loop;
    Recorder r;
    r.loop = &loop;
    auto h = loop.AddTarget(&r);
    std::thread poster([&] { loop.PostMessage(h, WM_USER + 5, 3, 0); });
    poster.join();
    loop.SetTimer(h, 9, 10);
    ASSERT_TRUE(loop.RunUntil([&] { return r.got.size() >= 3; }, 5000));
    EXPECT_EQ(r.got[0].msg, WM_USER + 5u);
    EXPECT_EQ(r.got[1].msg, WM_TIMER);
    EXPECT_EQ(r.got[1].w, 9u);
    loop.PostMessage(h, WM_USER + 6, 0, 0);
    loop.RemoveTarget(h);
    size_t before = r.got.size();
    loop.RunUntil([] { return false; }, 50);
    EXPECT_EQ(r.got.size(), before);
}

TEST(UiLoop, PostsWithNoLoopInstalledAreDroppedAndRemovalWaitsForAPostUnderWay) {
    using vexa::platform::SetUiLoop;
    using vexa::platform::UiLoop;
    // A loop whose delivery of a post takes as long as the test wants.
    struct SlowLoop : vexa::platform::IUiLoop {
        std::atomic<bool> entered{false}, release{false}, finished{false};
        vexa::platform::WindowHandle AddTarget(IMessageTarget*) override { return 1; }
        void RemoveTarget(vexa::platform::WindowHandle) override {}
        bool PostMessage(vexa::platform::WindowHandle, std::uint32_t, std::uintptr_t,
                         std::intptr_t) override {
            entered = true;
            while (!release) std::this_thread::yield();
            finished = true;
            return true;
        }
        bool SetTimer(vexa::platform::WindowHandle, std::uintptr_t, std::uint32_t) override {
            return true;
        }
        void KillTimer(vexa::platform::WindowHandle, std::uintptr_t) override {}
        std::uint64_t NowMs() override { return 0; }
    } slow;
    SetUiLoop(&slow);
    std::thread worker([] { UiLoop().PostMessage(1, WM_USER + 100, 1, 0); });
    while (!slow.entered) std::this_thread::yield();
    bool finishedWhenRemoved = false;
    std::thread teardown([&] {
        SetUiLoop(nullptr);
        finishedWhenRemoved = slow.finished;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    slow.release = true;
    teardown.join();
    worker.join();
    // After SetUiLoop(nullptr) the old loop may be destroyed: nothing is inside it any more.
    EXPECT_TRUE(finishedWhenRemoved);
    EXPECT_FALSE(UiLoop().PostMessage(1, WM_USER + 100, 1, 0));
    UiLoop().KillTimer(1, 1);
    EXPECT_FALSE(UiLoop().SetTimer(1, 1, 10));
}

// A worker the program does not wait for may finish after the program removed its loop.
TEST(UiLoop, PostsFromWorkersAfterTheLoopIsGoneAreDropped) {
    {
        vexa::testing::CTestUiLoop loop;
        Recorder r;
        r.loop = &loop;
        auto h = loop.AddTarget(&r);
        EXPECT_TRUE(vexa::platform::PostToUiLoop(h, WM_USER, 1, 0));
        loop.RunPending();
        EXPECT_EQ(r.got.size(), 1u);
        loop.RemoveTarget(h);
    }
    EXPECT_FALSE(vexa::platform::PostToUiLoop(1, WM_USER, 2, 0));
}
