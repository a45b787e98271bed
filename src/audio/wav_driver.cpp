// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wav_driver.h"

#include <fcntl.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace miral::audio {

namespace {

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Opens the file for reading without ever waiting: a FIFO with no writer
// would hold an ordinary open (and the program's start) for ever. Only a
// plain file is accepted; -1 with the reason in *why otherwise.
int OpenPlainFile(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    struct stat sb {};
    if (::fstat(fd, &sb) != 0) {
        *why = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(sb.st_mode)) {
        *why = S_ISDIR(sb.st_mode)    ? "it is a folder, not a sound file"
               : S_ISFIFO(sb.st_mode) ? "it is a FIFO (named pipe), not a sound file"
                                      : "it is not a plain file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

WavDriver::WavDriver(TimeMode mode, std::string path) : ClockedDriver(mode), path_(std::move(path)) {}

std::unique_ptr<WavDriver> WavDriver::Create(const std::string& path, TimeMode mode, std::string& error) {
    std::unique_ptr<WavDriver> driver(new WavDriver(mode, path));
    std::string why;
    const int fd = OpenPlainFile(path, &why);
    if (fd < 0) {
        error = "cannot read WAV input \"" + path + "\": " + why;
        return nullptr;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);  // closes fd, also on failure
    if (file == nullptr) {
        // libsndfile's reason is technical; what matters first is that the
        // file is no sound it can read.
        std::string reason = OneLine(sf_strerror(nullptr));
        if (!reason.empty() && reason.back() == '.') reason.pop_back();
        error = "cannot read WAV input \"" + path + "\": it is damaged or not a sound file (" + reason + ")";
        return nullptr;
    }
    driver->file_ = file;
    if (info.channels < 1 || info.samplerate <= 0) {
        error = "cannot read WAV input \"" + path + "\": no audio channels or no sample rate";
        return nullptr;
    }
    if (info.frames <= 0) {
        error = "cannot read WAV input \"" + path + "\": the file holds no audio frames";
        return nullptr;
    }
    if (info.samplerate > kMaxRate) {
        error = "cannot read WAV input \"" + path + "\": sample rate " + std::to_string(info.samplerate) +
                " Hz is above " + std::to_string(kMaxRate);
        return nullptr;
    }
    driver->fileRate_ = info.samplerate;
    driver->channels_ = info.channels;
    driver->frames_ = info.frames;
    // Integer files read as floats come out normalised to +-1.0.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    driver->raw_.assign(static_cast<size_t>(kChunk) * info.channels, 0.0f);
    driver->stereo_.assign(2 * static_cast<size_t>(kChunk), 0.0f);
    return driver;
}

WavDriver::~WavDriver() {
    Shutdown();
    if (resampler_ != nullptr) src_delete(resampler_);
    if (file_ != nullptr) sf_close(file_);
}

void WavDriver::TakeRuntimeError(std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text.clear();
    text.swap(runtimeError_);
}

bool WavDriver::OnCaptureOpen(const Stream& capture, std::string& error) {
    if (resampler_ != nullptr) {
        src_delete(resampler_);
        resampler_ = nullptr;
    }
    ratio_ = static_cast<double>(capture.rate) / fileRate_;
    if (capture.rate != fileRate_) {
        int code = 0;
        resampler_ = src_new(SRC_SINC_MEDIUM_QUALITY, 2, &code);
        if (resampler_ == nullptr) {
            error = "cannot resample \"" + path_ + "\" to " + std::to_string(capture.rate) +
                    " Hz: " + src_strerror(code);
            return false;
        }
    }
    return true;
}

void WavDriver::OnCaptureStart(const Stream& /*capture*/) {
    // Every capture start replays the file from its beginning.
    sf_seek(file_, 0, SEEK_SET);
    if (resampler_ != nullptr) src_reset(resampler_);
    stereoPos_ = stereoCount_ = 0;
}

unsigned int WavDriver::ReadLooping(float* stereo, unsigned int frames) {
    frames = std::min(frames, kChunk);
    sf_count_t got = sf_readf_float(file_, raw_.data(), frames);
    if (got <= 0) {
        sf_seek(file_, 0, SEEK_SET);
        got = sf_readf_float(file_, raw_.data(), frames);
        if (got <= 0) {
            // The file can no longer be read (removed or truncated): silence.
            if (runtimeError_.empty())
                runtimeError_ =
                    "WAV input \"" + path_ + "\" can no longer be read: " + OneLine(sf_strerror(file_));
            std::fill(stereo, stereo + 2 * static_cast<size_t>(frames), 0.0f);
            return frames;
        }
    }
    const auto n = static_cast<unsigned int>(got);
    const auto ch = static_cast<unsigned int>(channels_);
    for (unsigned int i = 0; i < n; ++i) {
        stereo[2 * i] = raw_[i * ch];
        stereo[2 * i + 1] = ch > 1 ? raw_[i * ch + 1] : raw_[i * ch];
    }
    return n;
}

void WavDriver::RenderCapture(std::int64_t /*first*/, unsigned int count, float* interleaved) {
    if (resampler_ == nullptr) {
        unsigned int done = 0;
        while (done < count) done += ReadLooping(interleaved + 2 * static_cast<size_t>(done), count - done);
        return;
    }
    unsigned int done = 0;
    while (done < count) {
        if (stereoPos_ == stereoCount_) {
            stereoCount_ = ReadLooping(stereo_.data(), kChunk);
            stereoPos_ = 0;
        }
        SRC_DATA data{};
        data.data_in = stereo_.data() + 2 * static_cast<size_t>(stereoPos_);
        data.input_frames = stereoCount_ - stereoPos_;
        data.data_out = interleaved + 2 * static_cast<size_t>(done);
        data.output_frames = count - done;
        data.src_ratio = ratio_;
        data.end_of_input = 0;  // the file loops: the input never ends
        const int code = src_process(resampler_, &data);
        if (code != 0 || (data.input_frames_used == 0 && data.output_frames_gen == 0)) {
            if (code != 0 && runtimeError_.empty())
                runtimeError_ = "resampling \"" + path_ + "\" failed: " + src_strerror(code);
            std::fill(interleaved + 2 * static_cast<size_t>(done),
                      interleaved + 2 * static_cast<size_t>(count), 0.0f);
            return;
        }
        stereoPos_ += static_cast<unsigned int>(data.input_frames_used);
        done += static_cast<unsigned int>(data.output_frames_gen);
    }
}

}  // namespace miral::audio
