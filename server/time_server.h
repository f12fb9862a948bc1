// The Time Protocol server that answers other machines on TCP port 37.
#pragma once

void start_time_server();
void stop_time_server();
