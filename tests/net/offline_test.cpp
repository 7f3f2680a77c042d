// Offline ping and pong, and datagrams that are not the transport's framing.
#include <gtest/gtest.h>
