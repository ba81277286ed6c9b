#pragma once

namespace fotivela {

// Makes every allocation of `thresholdBytes` or more its own mapping, given
// back to the system as soon as it is freed. glibc otherwise raises its
// threshold to the largest block freed so far (up to 32 MB), after which
// frames and photos are carved from the heap and a 4K export keeps tens of
// megabytes it no longer uses. Process-wide; the first call wins.
void mapLargeAllocationsSeparately(int thresholdBytes = 4 << 20);

} // namespace fotivela
