#include "measures/MeasureObj.h"

MeasureObj::MeasureObj(const char* measureName, NetClass* owner, bool watchIt)
    : DefaultGM(measureName, "Result", owner), watch(watchIt) {}

MeasureObj::~MeasureObj() = default;

void MeasureObj::notify() {}
