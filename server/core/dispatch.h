// Classification and routing of one received packet.
#pragma once

struct Packet;

void dispatchPacket(Packet* packet);
