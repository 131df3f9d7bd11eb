#include "rtp_sw/vl_rtpsw_hooks.h"

#include "rtp_sw/vl_rtpsw_recv.h"
#include "rtp_sw/vl_rtpsw_send.h"
#include "vl/vl_rtp_factory.h"

void vl_rtp_sw_install() {
  vl_rtp_software_send_init = vl_rtp_sw_send_init;
  vl_rtp_software_send_done = vl_rtp_sw_send_done;
  vl_rtp_software_recv_init = vl_rtp_sw_recv_init;
  vl_rtp_software_recv_done = vl_rtp_sw_recv_done;
}

void vl_rtp_sw_uninstall() {
  vl_rtp_software_send_init = vl_rtp_send_init_default;
  vl_rtp_software_send_done = vl_rtp_send_done_default;
  vl_rtp_software_recv_init = vl_rtp_recv_init_default;
  vl_rtp_software_recv_done = vl_rtp_recv_done_default;
}
