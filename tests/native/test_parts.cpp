// Native tests of a batch split over threads (engine/parts.hpp): the parts
// cover every row once, merge in row order, stop together on a failure, and
// only the caller's thread runs the installed interrupt check. Built with the
// thread sanitizer by tests/test_native.py; by hand from the repository root:
//   g++ -std=c++20 -O1 -fsanitize=thread -pthread -Isrc tests/native/test_parts.cpp
//       src/columns/interrupt.cpp -o build/test_parts && build/test_parts
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "check.hpp"
#include "common/errors.hpp"
#include "engine/parts.hpp"

namespace ze = zentrova::engine;
namespace zc = zentrova::columns;

namespace {

// A core that keeps what it was given: its rows' sum and the parts, in merge order.
struct Toy {
    std::uint64_t rows = 0, sum = 0;
    std::vector<std::size_t> starts;
    std::vector<bool> lasts;

    Toy fresh() const { return Toy(); }
    void merge(const Toy& other) {
        rows += other.rows;
        sum += other.sum;
        starts.insert(starts.end(), other.starts.begin(), other.starts.end());
        lasts.insert(lasts.end(), other.lasts.begin(), other.lasts.end());
    }
};

void add_rows(Toy& toy, std::size_t start, std::size_t count, bool last) {
    for (std::size_t row = start; row < start + count; ++row) toy.sum += row;
    toy.rows += count;
    toy.starts.push_back(start);
    toy.lasts.push_back(last);
}

void test_part_count() {
    CHECK(ze::part_count(0, 8) == 1);
    CHECK(ze::part_count(ze::part_rows_minimum * 2 - 1, 8) == 1);
    CHECK(ze::part_count(ze::part_rows_minimum * 2, 8) == 2);
    CHECK(ze::part_count(ze::part_rows_minimum * 100, 3) == 3);
    CHECK(ze::part_count(ze::part_rows_minimum * 1000, SIZE_MAX) == ze::parts_maximum);
}

void test_parts_cover_every_row_once_in_order() {
    for (const std::size_t rows : {std::size_t{3} << 16, (std::size_t{5} << 16) + 4095, std::size_t{1} << 22}) {
        for (const std::size_t threads : {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{64}}) {
            Toy toy;
            add_rows(toy, 0, 10, false);  // rows the core held before
            const std::size_t parts = ze::part_count(rows, threads);
            ze::update_in_parts(toy, rows, parts, add_rows);
            CHECK(toy.rows == rows + 10);
            CHECK(toy.sum == 45 + static_cast<std::uint64_t>(rows) * (rows - 1) / 2);
            CHECK(toy.starts.size() == parts + 1);
            CHECK(std::is_sorted(toy.starts.begin() + 1, toy.starts.end()));
            for (std::size_t i = 1; i < toy.starts.size(); ++i) {
                CHECK(toy.starts[i] % 4096 == 0);
                CHECK(toy.lasts[i] == (i + 1 == toy.starts.size()));
            }
        }
    }
}

std::atomic<int> g_checks_on_workers{0};
std::atomic<int> g_checks{0};
thread_local bool t_is_caller = false;
std::atomic<bool> g_answer{false};

bool counting_check() {
    ++g_checks;
    if (!t_is_caller) ++g_checks_on_workers;
    return g_answer.load();
}

// Polls until the loop is told to stop, as a kernel on endless rows would.
void endless(Toy&, std::size_t, std::size_t, bool) {
    zc::InterruptPoller poller;
    for (;;) poller.advance(zc::interrupt_rows);
}

void test_a_failing_part_stops_the_others() {
    zc::set_interrupt_check(&counting_check);
    Toy toy;
    add_rows(toy, 0, 5, false);
    bool caught = false;
    try {
        ze::update_in_parts(toy, std::size_t{4} << 16, 4, [](Toy& part, std::size_t start, std::size_t count, bool last) {
            if (start >= (std::size_t{2} << 16) && start < (std::size_t{3} << 16)) throw std::runtime_error("part 2");
            endless(part, start, count, last);
        });
    } catch (const std::runtime_error& error) {
        caught = std::string(error.what()) == "part 2";
    }
    CHECK(caught);
    CHECK(toy.rows == 5 && toy.starts.size() == 1);  // unchanged
    zc::set_interrupt_check(nullptr);
}

void test_only_the_caller_looks_at_signals() {
    t_is_caller = true;
    g_checks = 0;
    g_checks_on_workers = 0;
    g_answer = false;
    zc::set_interrupt_check(&counting_check);
    // The caller's part asks a few times, then is told to stop; the workers,
    // which never ask, end at their next poll.
    std::atomic<int> caller_polls{0};
    bool interrupted = false;
    Toy toy;
    try {
        ze::update_in_parts(toy, std::size_t{3} << 16, 3, [&](Toy& part, std::size_t start, std::size_t count, bool last) {
            if (start == 0) {
                zc::InterruptPoller poller;
                for (;;) {
                    if (++caller_polls == 50) g_answer = true;
                    poller.advance(zc::interrupt_rows);
                }
            }
            endless(part, start, count, last);
        });
    } catch (const zentrova::Interrupted&) {
        interrupted = true;
    }
    CHECK(interrupted);
    CHECK(g_checks.load() == 50);
    CHECK(g_checks_on_workers.load() == 0);
    CHECK(toy.rows == 0);
    // Afterwards the caller's polls ask the installed check again.
    g_answer = false;
    zc::poll_interrupt();
    CHECK(g_checks.load() == 51);
    zc::set_interrupt_check(nullptr);
    t_is_caller = false;
}

void test_one_part_runs_on_the_caller() {
    Toy toy;
    const std::thread::id caller = std::this_thread::get_id();
    bool same = false;
    ze::update_in_parts(toy, 100, 1, [&](Toy& part, std::size_t start, std::size_t count, bool last) {
        same = std::this_thread::get_id() == caller && start == 0 && count == 100 && last;
        add_rows(part, start, count, last);
    });
    CHECK(same && toy.rows == 100);
}

}  // namespace

int main() {
    test_part_count();
    test_parts_cover_every_row_once_in_order();
    test_a_failing_part_stops_the_others();
    test_only_the_caller_looks_at_signals();
    test_one_part_runs_on_the_caller();
    return native_check::report();
}
