// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/bundles.h"

#include <cmath>

#include "audio/bundle_driver.h"
#include "core/instrument.h"
#include "storage/bundle.h"
#include "storage/file_io.h"
#include "storage/panel_store.h"

namespace miral::core {

namespace {

constexpr const char* kStatesKey = "Software\\Zorvane\\V1_005\\States";

}  // namespace

bool Bundles::openBundle(const std::string& path, std::string* error) {
    auto b = std::make_unique<storage::Bundle>();
    if (!storage::readBundleFile(path, *b, error)) return false;
    // The panel must be one this program has: a newer layout would come up
    // with defaults, and the saved moment would not be what the screen shows.
    storage::Registry reg("");
    std::string why;
    reg.parse(b->panelState, &why);
    const storage::RegistryKey* key = reg.findKey(kStatesKey);
    const std::optional<int> count = key ? key->readInt("check_all") : std::nullopt;
    if (!count || *count <= 0) {
        *error = "cannot open bundle \"" + path + "\": it holds no panel";
        return false;
    }
    if (*count > kControlCount) {
        *error = "cannot open bundle \"" + path + "\": it was saved by a newer Miral (" + b->programVersion +
                 ", a panel of " + std::to_string(*count) + " controls; this one has " +
                 std::to_string(kControlCount) + ")";
        return false;
    }
    const int rate = static_cast<int>(std::lround(b->captureRate));
    in_.streams().UseDriver(
        std::make_unique<audio::BundleDriver>(b->captureA, b->captureB, rate, b->decimation));
    bundle_ = std::move(b);
    bundlePath_ = path;
    return true;
}

void Bundles::bundleAfterRestore() {
    if (!bundle_) return;
    // The view handlers of the restore set the averaging up as for a new
    // measurement (the excitation preset presses "AVG" and, a moment later,
    // "LF"); the saved moment had the averaging buttons as its panel says.
    storage::Registry reg("");
    std::string why;
    reg.parse(bundle_->panelState, &why);
    const storage::RegistryKey* key = reg.findKey(kStatesKey);
    if (!key) return;
    for (Ctl c : {Ctl::lowf, Ctl::avg, Ctl::maxx}) {
        if (auto v = key->readInt("CmpB" + std::to_string(static_cast<int>(c)))) panel_.setDown(c, *v != 0);
    }
    // With "LF" up the restart countdown would press it.
    if (!panel_.down(Ctl::lowf)) st_.LfRestartCount = 0;
}

bool Bundles::saveBundle(const std::string& path, std::string* error) {
    storage::Bundle b;
    b.programVersion = MIRAL_VERSION;
    // The newest samples of the window that the screen shows (the capture
    // may have moved on since the last cycle took it).
    const int end =
        cycle().acquiredWriteIndex() >= 0 ? cycle().acquiredWriteIndex() : in_.ring().WriteIndex.load();
    const int n = static_cast<int>(storage::kBundleSamples);
    b.captureA.resize(storage::kBundleSamples);
    b.captureB.resize(storage::kBundleSamples);
    for (int i = 0; i < n; ++i) {
        const int slot = (end - n + i + audio::CaptureRing::kSize) & audio::CaptureRing::kMask;
        b.captureA[static_cast<std::size_t>(i)] = in_.ring().SampleA(slot);
        b.captureB[static_cast<std::size_t>(i)] = in_.ring().SampleB(slot);
    }
    b.decimation = std::max(1, st_.Decimation);
    b.captureRate = st_.CaptureRate;
    b.sampleRate = static_cast<double>(st_.CaptureRate) / b.decimation;
    b.sampleFormat = audio::SampleFormatName(in_.streams().CaptureFormat());
    b.view = viewCaption(activeView(panel_));
    b.fftSize = st_.FftSize;
    storage::Registry reg("");
    panelStorage().writeStatesKey(*reg.openKey(kStatesKey, true));
    b.panelState = reg.serialize();
    for (const std::string& line : in_.prefs.lines()) b.preferences += line + "\n";
    b.probeTable = panelStorage().prefsDatBytes();
    return storage::writeFileAtomically(path, storage::encodeBundle(b), error);
}

}  // namespace miral::core
