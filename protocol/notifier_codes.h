// Codes carried in a Notifier's `code` field; the comment names the parameter.
#pragma once

#include <cstdint>

namespace KSTMP {

enum notifier_code : int32_t {
    ntf_ready_to_spawn = 1,
    ntf_ready_to_play = 2,
    ntf_ready_to_init = 3,
    ntf_ship_notice_a = 7,         // ship index
    ntf_ship_notice_b = 8,         // ship index
    ntf_ship_notice_c = 9,         // ship index
    ntf_ship_tally_a = 11,         // ship index
    ntf_ship_tally_b = 12,         // ship index
    ntf_slot_query = 13,
    ntf_ship_list_request = 16,
    ntf_phase_request = 17,
    ntf_login_result = 18,         // login verdict
    ntf_game_modes_request = 19,
    ntf_server_links_request = 20,
    ntf_buoys_request = 22,
    ntf_ship_lost_a = 26,          // ship index
    ntf_ship_lost_b = 27,          // ship index
    ntf_game_result = 29,          // winning team, -1 for none
    ntf_team_id = 30,              // team (from a client: in the low 16 bits)
    ntf_ping = 32,
    ntf_pong = 33,                 // total reserved ship slots
};

// Highest code with a meaning; anything above it (read as unsigned) is unlisted.
inline constexpr uint32_t highestNotifierCode = 33;

}  // namespace KSTMP
