// Sections of the measurement benchmark that run the whole window against the gauge simulator.
#pragma once

void MeasuringCpu();
void SilentCpu();
