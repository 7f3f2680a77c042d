// Every command record, the identifiers, the address value and the Notifier codes.
#pragma once

#include "protocol/address.h"
#include "protocol/base_command.h"
#include "protocol/battle_records.h"
#include "protocol/lobby_records.h"
#include "protocol/notifier_codes.h"
