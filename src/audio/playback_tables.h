// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The PlaybackTables: one second of the left (PlaybackA) and right
// (PlaybackB) output signal, normalised to +-1.0, that the playback callback
// plays in a loop.
//
// A rebuild is swapped in whole, so a listener never hears half of an old and
// half of a new table. There are three tables (triple buffering):
//   - the back table belongs to the writer (the window thread): the generator
//     fills BackA()/BackB() and calls Publish(), which never waits;
//   - the front table belongs to the playback callback, which calls
//     PickUpNewest() once at the start of every callback and then reads only
//     FrontA()/FrontB();
//   - the third one sits in between: the newest published table not yet
//     picked up.
// The exchanges are single atomic operations (acquire/release), so the
// callback never blocks or allocates and the table contents need no atomics.
// A change is heard from the entry that the callback reaches next: ReadIndex
// simply carries on in the new table.

#include <atomic>
#include <memory>

namespace miral::audio {

class PlaybackTables {
  public:
    static constexpr int kSize = 192000;  // one second at the highest rate offered

    PlaybackTables();
    ~PlaybackTables();
    PlaybackTables(const PlaybackTables&) = delete;
    PlaybackTables& operator=(const PlaybackTables&) = delete;

    // ---- Writer (window thread) ----
    // The table to fill; nobody hears it until Publish(). Its contents are
    // those of an older table: write every entry that is to be played.
    float* BackA();
    float* BackB();
    // Makes the back table the newest published one and hands the writer a
    // free table to fill next. Wait-free.
    void Publish();
    // The newest published table (initially silence), for reading on the
    // writer's thread, e.g. --dump PlaybackA. Stays valid until the next
    // Publish().
    const float* PublishedA() const;
    const float* PublishedB() const;

    // Number of valid entries that the callback loops over; set to the
    // playback rate when the stream starts (one second of signal).
    std::atomic<int> PlaybackLength{44100};
    // The entry that the playback callback sends next.
    std::atomic<int> ReadIndex{0};

    // ---- Reader (playback callback) ----
    // Switches to the newest published table if there is one. Wait-free.
    void PickUpNewest();
    const float* FrontA() const;
    const float* FrontB() const;

  private:
    struct Table {
        float a[kSize];
        float b[kSize];
    };
    static constexpr unsigned kFresh = 4;  // set in middle_ when it holds an unseen table
    static constexpr unsigned kIndexMask = 3;

    std::unique_ptr<Table[]> tables_;
    std::atomic<unsigned> middle_{1};
    int back_ = 2;               // writer only
    int published_ = 0;          // writer only
    std::atomic<int> front_{0};  // reader only (atomic: streams come and go on different threads)
};

}  // namespace miral::audio
