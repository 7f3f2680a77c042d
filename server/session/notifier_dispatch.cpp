#include "server/session/notifier_dispatch.h"

#include "platform/console.h"
#include "protocol/notifier_codes.h"
#include "protocol/records.h"
#include "server/core/lobby.h"
#include "server/core/send.h"
#include "server/session/buoys.h"
#include "server/session/players.h"
#include "server/session/session_state.h"
#include "server/session/ship_registry.h"

using platform::consolePrint;

void on_notifier(const SystemAddress& sender, KSTMP::Notifier* record) {
    const uint32_t code = static_cast<uint32_t>(record->code);
    switch (code) {
    case 0:
    case 5:
    case 6:
    case 10: return;
    case KSTMP::ntf_ready_to_spawn:
        consolePrint("%s is ready to spawn\n", addressText(sender));
        on_ready_to_spawn(sender);
        return;
    case KSTMP::ntf_ready_to_play:
        consolePrint("%s is ready to play\n", addressText(sender));
        on_ready_to_play(sender);
        return;
    case KSTMP::ntf_ready_to_init:
        consolePrint("%s is ready to init\n", addressText(sender));
        on_ready_to_init(sender);
        return;
    case KSTMP::ntf_ship_notice_a:
    case KSTMP::ntf_ship_notice_b:
    case KSTMP::ntf_ship_notice_c:
    case KSTMP::ntf_ship_tally_a:
    case KSTMP::ntf_ship_tally_b:
    case KSTMP::ntf_ship_lost_a:
    case KSTMP::ntf_ship_lost_b: on_ship_notifier(sender, record); return;
    case KSTMP::ntf_slot_query: on_slot_query(sender); return;
    case KSTMP::ntf_ship_list_request: send_ship_list(sender); return;
    case KSTMP::ntf_phase_request: send_phase_to(sender); return;
    case KSTMP::ntf_game_modes_request: sendGameType(sender); return;
    case KSTMP::ntf_server_links_request: sendServerLinks(sender); return;
    case KSTMP::ntf_buoys_request: send_buoys_and_scores(sender); return;
    case KSTMP::ntf_team_id: on_team_id(sender, record->param); return;
    case KSTMP::ntf_ping: {
        KSTMP::Notifier pong;
        pong.target.setFrom(sender);
        pong.code = KSTMP::ntf_pong;
        pong.param = totalReservedSlots();
        sendRecord(&pong);
        return;
    }
    case KSTMP::ntf_pong: consolePrint("Hmm, %s sent a pong to server\n", addressText(sender)); return;
    default:
        // Codes without a meaning from a client, and everything above the last code.
        consolePrint("%s send an unhandled KST command: %i\n", addressText(sender), record->code);
        return;
    }
}
