#include "core/MeasureKeeper.h"

#include "platform/Assert.h"

namespace {
MeasureKeeper* installed = nullptr;
}

MeasureKeeper& MeasureKeeper::process() {
    SCPN_ASSERT(installed != nullptr, "core/MeasureKeeper");
    return *installed;
}

void MeasureKeeper::install(MeasureKeeper* keeper) { installed = keeper; }
