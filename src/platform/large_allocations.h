#pragma once

namespace fotivela {

// Makes every allocation of 4 MB or more its own mapping, given back to the
// system as soon as it is freed. glibc otherwise raises its threshold to the
// largest block freed so far (up to 32 MB), after which frames and photos are
// carved from the heap and a 4K export keeps tens of megabytes it no longer
// uses. Process-wide.
void mapLargeAllocationsSeparately();

// Gives the system back the memory freed inside the heap (by an encoder's
// thousands of smaller blocks, say), which glibc keeps for reuse otherwise:
// after a 4K export the program would stay hundreds of megabytes larger.
void returnFreedMemoryToSystem();

} // namespace fotivela
