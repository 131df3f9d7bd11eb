// Points the process's software RTP hooks at this engine, and back at the
// defaults (which make no managers).
#pragma once

void vl_rtp_sw_install();
void vl_rtp_sw_uninstall();
