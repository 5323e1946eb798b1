// The model's watchdog thread: it ends the application's event loop (with
// code 0) when the disk stops answering, and leaves it alone while the
// disk answers or while the watchdog is paused. A program of its own: the
// thread runs until the process ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <memory>

#include "model_support.h"
#include "sim_disk.h"
#include "zvsecurity_disk.h"

namespace {

// Runs the event loop until something ends it, or until the guard does so
// with code 99 after two and a half watchdog periods (three checks at most).
int run_event_loop(int guard_ms = ZV_WATCHDOG_PERIOD_MS * 5 / 2)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(guard_ms);
    return QCoreApplication::exec();
}

// Runs first: the model is a single object for the whole program.
TEST(Watchdog, WatchesNothingBeforeADiskIsChosen)
{
    ZVSecurityDisk *model = ZVSecurityDisk::GetInstance();
    guitest::clear_messages();
    model->start();
    EXPECT_EQ(run_event_loop(), 99) << "no disk chosen yet: the application keeps running";
    EXPECT_EQ(guitest::count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);

    // No disk to choose: still nothing to watch.
    EXPECT_NE(model->init(), 0);
    EXPECT_EQ(run_event_loop(), 99);
    EXPECT_EQ(guitest::count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);
}

TEST(Watchdog, ASlowButPresentDiskDoesNotEndTheProgram)
{
    auto disk = std::make_unique<simtest::SimDisk>();
    auto service = std::make_unique<svctest::ServiceProcess>(guitest::program_bus());
    ZVSecurityDisk *model = ZVSecurityDisk::GetInstance();
    ASSERT_EQ(model->init(), 0);
    // The service stops answering (as while it serves a long command): the
    // disk does not answer, but it is there.
    service.reset();
    guitest::clear_messages();
    EXPECT_EQ(run_event_loop(), 99) << "the disk is still present: the application keeps running";
    EXPECT_EQ(guitest::count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);
    EXPECT_GE(guitest::count_message(QtWarningMsg, "disk[" + disk->dev() + "] did not answer; it is still present."),
              1);
    model->set_watchdog(false);
}

TEST(Watchdog, EndsTheEventLoopOnlyWhenTheDiskIsGoneAndItIsOn)
{
    auto disk = std::make_unique<simtest::SimDisk>();
    svctest::ServiceProcess service(guitest::program_bus());
    ZVSecurityDisk *model = ZVSecurityDisk::GetInstance();
    ASSERT_EQ(model->init(), 0);

    EXPECT_EQ(run_event_loop(), 99) << "the disk answers: the application keeps running";

    model->set_watchdog(false);
    disk.reset();
    guitest::clear_messages();
    EXPECT_EQ(run_event_loop(), 99) << "paused: a vanished disk leaves the application running";
    EXPECT_EQ(guitest::count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);

    model->set_watchdog(true);
    EXPECT_EQ(run_event_loop(ZV_WATCHDOG_PERIOD_MS * 6), 0) << "on again: the watchdog ends the event loop";
    EXPECT_GE(guitest::count_message(QtCriticalMsg, "disk is not exist. application exit."), 1);
    model->set_watchdog(false);
}

} // namespace

int main(int argc, char **argv)
{
    guitest::ToolDir tools;
    guitest::add_simulated_lsblk(tools);
    return guitest::run_tests(argc, argv);
}
