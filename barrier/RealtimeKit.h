#pragma once

#ifndef _WIN32

// Real-time priority through the desktop's RealtimeKit (package rtkit, on
// the system D-Bus) for an ordinary user whom the system doesn't let take it
// directly. Asks for the calling thread; false when RealtimeKit isn't there
// or refuses. After a failure to reach it, it isn't asked again.
bool MakeThreadRealTimeByRealtimeKit(int priority = 1);

// Lets the threads that stamp line changes try RealtimeKit (see
// RaiseStampingPriority), unless another grant is set.
void UseRealtimeKit();

#endif
