#pragma once
// The process-wide pseudo-random generator: the next video of playback and the
// cache-busting numbers of service requests are drawn from it.

namespace sonabox {

// Seeds the generator from the clock.
void SeedRandom();

// A uniformly drawn whole number from 0 to range - 1 (0 when range <= 0).
int RandomInt(int range);

} // namespace sonabox
