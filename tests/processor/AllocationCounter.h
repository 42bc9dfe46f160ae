#pragma once

// Counts calls of the global operator new made by the calling thread between start and stop.
namespace allocationCounter
{
void start() noexcept;
int stop() noexcept;
} // namespace allocationCounter
