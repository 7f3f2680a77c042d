// The transport peer: connections, reliable ordered delivery, secured connections, offline
// ping and pong, time stamps, ban list and statistics. One network thread per started peer.
#pragma once

#include <cstdint>

#include "net/get_time.h"
#include "net/message_identifiers.h"
#include "net/statistics.h"
#include "net/system_address.h"

enum PacketPriority { SYSTEM_PRIORITY, HIGH_PRIORITY, MEDIUM_PRIORITY, LOW_PRIORITY, NUMBER_OF_PRIORITIES };

enum PacketReliability {
    UNRELIABLE,
    UNRELIABLE_SEQUENCED,
    RELIABLE,
    RELIABLE_ORDERED,
    RELIABLE_SEQUENCED,
};

struct SocketDescriptor {
    unsigned short port = 0;
    char hostAddress[32] = {0};  // empty: any local address
    SocketDescriptor() = default;
    SocketDescriptor(unsigned short p, const char* host);
};

struct Packet {
    uint16_t systemIndex;         // slot of the sender, 0xFFFF when not connected
    SystemAddress systemAddress;  // sender
    unsigned int length;          // bytes in data
    unsigned int bitSize;         // length * 8
    unsigned char* data;
};

class RakPeerImpl;

class RakPeerInterface {
public:
    RakPeerInterface();
    ~RakPeerInterface();
    RakPeerInterface(const RakPeerInterface&) = delete;
    RakPeerInterface& operator=(const RakPeerInterface&) = delete;

    bool Startup(unsigned short maxConnections, int threadSleepTimer, SocketDescriptor* socketDescriptors,
                 unsigned socketDescriptorCount);
    // All four null: generate a key pair; every incoming connection is then secured.
    void InitializeSecurity(const char* pubKeyE, const char* pubKeyN, const char* privKeyP, const char* privKeyQ);
    void SetIncomingPassword(const char* passwordData, int passwordDataLength);
    void SetMaximumIncomingConnections(unsigned short numberAllowed);
    unsigned short GetMaximumIncomingConnections() const;
    bool IsActive() const;

    bool Connect(const char* host, unsigned short remotePort, const char* passwordData, int passwordDataLength,
                 unsigned connectionSocketIndex = 0);
    void Shutdown(unsigned int blockDuration, unsigned char orderingChannel = 0);
    void Disconnect(unsigned int blockDuration, unsigned char orderingChannel = 0) { Shutdown(blockDuration, orderingChannel); }
    void CloseConnection(const SystemAddress target, bool sendDisconnectionNotification, unsigned char orderingChannel = 0);
    bool IsConnected(const SystemAddress systemAddress, bool includeInProgress = false, bool includeDisconnecting = false);
    bool GetConnectionList(SystemAddress* remoteSystems, unsigned short* numberOfSystems) const;
    SystemAddress GetSystemAddressFromIndex(int index);

    bool Send(const char* data, const int length, PacketPriority priority, PacketReliability reliability,
              char orderingChannel, SystemAddress systemAddress, bool broadcast);
    Packet* Receive();
    void DeallocatePacket(Packet* packet);

    void Ping(const char* host, unsigned short remotePort, bool onlyReplyOnAcceptingConnections,
              unsigned connectionSocketIndex = 0);
    int GetAveragePing(const SystemAddress systemAddress);
    void SetOccasionalPing(bool doPing);

    // Time after which a silent connection is lost (default 10000 ms); applies to present and
    // future connections. target is accepted for the familiar signature and may be unassigned.
    void SetTimeoutTime(RakNetTime timeMS, const SystemAddress target);

    void AddToBanList(const char* IP, RakNetTime milliseconds = 0);
    bool IsBanned(const char* IP);

    const char* GetLocalIP(unsigned int index);
    SystemAddress GetInternalID(const SystemAddress systemAddress = UNASSIGNED_SYSTEM_ADDRESS) const;
    SystemAddress GetExternalID(const SystemAddress target) const;

    // Cumulative figures of one connection; null when not connected. The record stays valid
    // until the next call on this peer.
    RakNetStatistics* GetStatistics(const SystemAddress systemAddress);

private:
    RakPeerImpl* impl;
};

namespace RakNetworkFactory {
RakPeerInterface* GetRakPeerInterface();
void DestroyRakPeerInterface(RakPeerInterface* peer);
}
