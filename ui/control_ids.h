// The identifiers of the main window's controls.  The record's fields, the
// exchange order and the spin buttons are all spoken of by these numbers, so
// the window, the exchange and their tests agree on which control is which.
#pragma once

namespace vesk::control {

constexpr int about_button = 1000;
constexpr int quit_button = 1001;
constexpr int bitnr_edit = 1002;
constexpr int fssim_edit = 1003;
constexpr int aperture_edit = 1004;
constexpr int inpwavname_edit = 1005;
constexpr int outwavname_edit = 1006;
constexpr int browse_input_button = 1007;
constexpr int browse_output_button = 1008;
constexpr int fcloin_edit = 1009;
constexpr int fchiin_edit = 1010;
constexpr int fcloout_edit = 1011;
constexpr int fchiout_edit = 1012;
constexpr int varispeedt_edit = 1013;
constexpr int varispeedf_edit = 1014;
constexpr int jitteramp_edit = 1015;
constexpr int process_button = 1016;
constexpr int play_input_button = 1017;
constexpr int play_output_button = 1018;
constexpr int info_button = 1019;
constexpr int reset_button = 1020;
constexpr int varispeedt_spin = 1021;
constexpr int varispeedf_spin = 1022;
constexpr int fssim_spin = 1023;
constexpr int fcloout_spin = 1024;
constexpr int fchiout_spin = 1025;
constexpr int fchiin_spin = 1026;
constexpr int fcloin_spin = 1027;
constexpr int bitnr_spin = 1028;
constexpr int open_button = 1029;
constexpr int save_button = 1030;
constexpr int varispeedsh_check = 1031;
constexpr int fssrc_edit = 1038;
constexpr int ensrc_check = 1042;

// The window-menu command that opens the About box; only the bits above the
// lowest four identify a window-menu command.
constexpr unsigned about_command = 16;
constexpr unsigned window_command_mask = 0xFFF0;

} // namespace vesk::control
