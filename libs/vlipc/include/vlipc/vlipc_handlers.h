// The daemon's command set: puts the handler of every command into the
// server's table.
#pragma once

void vlipc_register_handlers();
