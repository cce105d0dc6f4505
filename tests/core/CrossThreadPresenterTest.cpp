// tests/core/CrossThreadPresenterTest.cpp
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Fakes.h"
#include "core/base/CrossThreadPresenter.h"

namespace {

using namespace std::chrono_literals;

TEST(CrossThreadPresenter, OnTheUiThreadTheBoxIsShownDirectly) {
    RecordingPresenter ui;
    QueuePoster poster;
    CrossThreadPresenter presenter{ui, poster};
    presenter.ShowMessage("Error", "SendTo errorcode: 1", BoxIcon::Information);
    EXPECT_EQ(poster.Pending(), 0u);
    EXPECT_EQ(ui.Shown(),
              (std::vector<ShownMessage>{{"Error", "SendTo errorcode: 1", BoxIcon::Information}}));
}

TEST(CrossThreadPresenter, AWorkerWaitsOnTheUiThreadUntilTheBoxIsClosed) {
    RecordingPresenter ui;
    QueuePoster poster;
    CrossThreadPresenter presenter{ui, poster};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        presenter.ShowMessage("Error", "from worker", BoxIcon::Information);
        returned.store(true);
    });
    while (poster.Pending() == 0) {
        std::this_thread::yield();
    }
    // The box has not been shown yet: the worker must still be waiting.
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(ui.Shown().empty());
    EXPECT_EQ(poster.Drain(), 1);
    worker.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"from worker"}));
}

TEST(CrossThreadPresenter, AStopReleasesAWaitingWorkerAndLaterBoxesAreNotShown) {
    RecordingPresenter ui;
    QueuePoster poster;
    CrossThreadPresenter presenter{ui, poster};
    std::thread worker([&] { presenter.ShowMessage("Error", "pending", BoxIcon::Information); });
    while (poster.Pending() == 0) {
        std::this_thread::yield();
    }
    const auto start = std::chrono::steady_clock::now();
    presenter.RequestStop();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    std::thread late([&] { presenter.ShowMessage("Error", "late", BoxIcon::Information); });
    late.join();
    // The box posted before the stop is dropped when its turn comes.
    poster.Drain();
    EXPECT_TRUE(ui.Shown().empty());
}

TEST(CrossThreadPresenter, APostedBoxOutlivingThePresenterIsDropped) {
    RecordingPresenter ui;
    QueuePoster poster;
    std::thread worker;
    {
        CrossThreadPresenter presenter{ui, poster};
        worker = std::thread([&] { presenter.ShowMessage("Error", "x", BoxIcon::Information); });
        while (poster.Pending() == 0) {
            std::this_thread::yield();
        }
        presenter.RequestStop();
        worker.join();
    }
    EXPECT_EQ(poster.Drain(), 1);
    EXPECT_TRUE(ui.Shown().empty());
}

}  // namespace
