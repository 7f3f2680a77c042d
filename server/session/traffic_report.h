// Traffic report printed when a session with players is reset.
#pragma once

void print_statistics_report();
