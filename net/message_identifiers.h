// Identifiers of the transport's own messages: the first byte of a delivered packet.
#pragma once

enum DefaultMessageIDTypes : unsigned char {
    ID_INTERNAL_PING = 0,
    ID_PING = 1,
    ID_PING_OPEN_CONNECTIONS = 2,
    ID_CONNECTION_REQUEST_ACCEPTED = 14,
    ID_CONNECTION_ATTEMPT_FAILED = 15,
    ID_ALREADY_CONNECTED = 16,
    ID_NEW_INCOMING_CONNECTION = 17,
    ID_NO_FREE_INCOMING_CONNECTIONS = 18,
    ID_DISCONNECTION_NOTIFICATION = 19,
    ID_CONNECTION_LOST = 20,
    ID_RSA_PUBLIC_KEY_MISMATCH = 21,
    ID_CONNECTION_BANNED = 22,
    ID_INVALID_PASSWORD = 23,
    ID_MODIFIED_PACKET = 24,
    ID_TIMESTAMP = 25,
    ID_PONG = 26,
    // First identifier free for the application.
    ID_USER_PACKET_ENUM = 91,
};
