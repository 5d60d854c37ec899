// Internal to the gateway.
// How the heap of a FastCGI process serves its request threads, so that
// what a large request took goes back to the system after it. Process-wide
// settings of the C library: shapeHeapForRequests() runs once, before the
// request threads start; giveBackMemoryAfter() is safe from any thread.
#pragma once

#include <cstddef>

// Large blocks are mapped and unmapped by themselves, and all threads share
// one heap.
void shapeHeapForRequests();

// Hands the free memory a request left inside the heap back to the system
// when the request moved enough bytes for that to matter.
void giveBackMemoryAfter(size_t bytesMoved);
