#include "tunnel/TunnelCounters.h"

TTunnelCounters& TTunnelCounters::operator+=(const TTunnelCounters& other) {
    framesSent += other.framesSent;
    framesReceived += other.framesReceived;
    naksSent += other.naksSent;
    naksReceived += other.naksReceived;
    repeatsSent += other.repeatsSent;
    repeatsReceived += other.repeatsReceived;
    linkResets += other.linkResets;
    streamBreaks += other.streamBreaks;
    closesAfterLoss += other.closesAfterLoss;
    callsRefused += other.callsRefused;
    peerResets += other.peerResets;
    probesSent += other.probesSent;
    bytesToPeers += other.bytesToPeers;
    bytesFromPeers += other.bytesFromPeers;
    return *this;
}
