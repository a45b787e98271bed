// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/playback_tables.h"

namespace miral::audio {

PlaybackTables::PlaybackTables() : tables_(new Table[3]()) {}

PlaybackTables::~PlaybackTables() = default;

float* PlaybackTables::BackA() {
    return tables_[back_].a;
}
float* PlaybackTables::BackB() {
    return tables_[back_].b;
}

void PlaybackTables::Publish() {
    published_ = back_;
    // Release: the reader that picks this table up sees every entry written
    // above. Acquire: the table handed back may have been the reader's front
    // until just now; its reads of it are finished.
    const unsigned old = middle_.exchange(static_cast<unsigned>(back_) | kFresh, std::memory_order_acq_rel);
    back_ = static_cast<int>(old & kIndexMask);
}

const float* PlaybackTables::PublishedA() const {
    return tables_[published_].a;
}
const float* PlaybackTables::PublishedB() const {
    return tables_[published_].b;
}

void PlaybackTables::PickUpNewest() {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return;
    const int front = front_.load(std::memory_order_relaxed);
    const unsigned fresh = middle_.exchange(static_cast<unsigned>(front), std::memory_order_acq_rel);
    front_.store(static_cast<int>(fresh & kIndexMask), std::memory_order_relaxed);
}

const float* PlaybackTables::FrontA() const {
    return tables_[front_.load(std::memory_order_relaxed)].a;
}
const float* PlaybackTables::FrontB() const {
    return tables_[front_.load(std::memory_order_relaxed)].b;
}

}  // namespace miral::audio
