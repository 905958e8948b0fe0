#pragma once

class TSerialPacket;

// What a tunnelled connection of the terminal side needs from the stack that carries it: a way
// to send its packets, to run the stack, and to leave the stack's table when it goes away.
class ITunnelEndpoint {
  public:
    virtual ~ITunnelEndpoint() = default;

    // Queues a packet for the line and hands the line what it is ready for; false while the
    // link is down.
    virtual bool SendPacket(const TSerialPacket& packet) = 0;
    // One processing step of the whole stack; true when it made progress.
    virtual bool ProcessContinuously() = 0;
    // Runs steps until the link is online or a time limit has passed; true when online.
    virtual bool WaitInterfaceReady() = 0;
    // Forgets the tunnelled connection of the socket id; its owner is deleting it.
    virtual void DeleteSerialConnection(unsigned long socketId) = 0;
};
