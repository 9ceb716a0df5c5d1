"""Which run mode a start picks: the letter after the first "/" of the argument text, else the
first letter of the program's file name. Each row is one scenario; the mode is told apart by
what the user sees (see Run.expect_mode)."""
from bed import scenario

# name, Windows version, program file name, argument text, expected mode
MODES = [
    ("name_lpatch_selects_log_patch", "win7", "Lpatch.exe", "", "L"),
    ("name_uninst_selects_uninstall", "win7", "uninst.exe", "", "U"),
    ("name_setup_selects_patch", "win7", "Setup.exe", "", "P"),
    ("name_verinfo_selects_version", "win7", "Verinfo.exe", "", "V"),
    ("name_diag_selects_diagnose", "win7", "Diag.exe", "", "D"),
    ("name_lowercase_v_selects_version", "winxp", "vcheck.exe", "", "V"),
    ("switch_v_selects_version", "win7", "tolvanix.exe", "/V", "V"),
    ("switch_lowercase_u_selects_uninstall", "win2k", "tolvanix.exe", "/u", "U"),
    ("switch_l_selects_log_patch", "win7", "tolvanix.exe", "/L", "L"),
    ("switch_d_selects_diagnose", "win7", "tolvanix.exe", "/D", "D"),
    ("switch_only_first_letter_counts", "win10", "tolvanix.exe", "/Ver", "V"),
    ("switch_beats_file_name", "win7", "Verinfo.exe", "/U", "U"),
    ("switch_inside_a_word_counts", "win7", "Setup.exe", "abc/vxyz", "V"),
    ("slash_alone_leaves_it_to_the_file_name", "win7", "uninst.exe", "/", "U"),
    ("trailing_slash_leaves_it_to_the_file_name", "win7", "Verinfo.exe", "now /", "V"),
    ("slash_blank_d_is_patch_not_file_name", "win7", "Diag.exe", "/ D", "P"),
    ("os_nt_before_d_selects_patch", "winxp", "Diag.exe", "/OS=NT /D", "P"),
    ("d_before_os_options_selects_diagnose", "win2k", "tolvanix.exe", "/d /OS=2000 /OS=NT", "D"),
    ("os_options_nt_then_2000_select_patch", "win7", "Verinfo.exe", "/OS=NT /OS=2000", "P"),
    ("os_options_2000_then_nt_select_patch", "win7", "Verinfo.exe", "/OS=2000 /OS=NT", "P"),
    ("wrong_case_os_option_is_letter_o", "nt40", "Verinfo.exe", "/os=2000", "P"),
    ("wrong_case_mode_letter_counts", "win10", "tolvanix.exe", "/v", "V"),
    ("fow_selects_patch", "win10", "uninst.exe", "/FOW", "P"),
    ("letter_above_127_selects_patch", "win7", "Verinfo.exe", "/\xe9", "P"),
]


def expect(mode):
    return lambda r: r.expect_mode(mode)


for name, windows, program, args, mode in MODES:
    scenario(name, windows=windows, program=program, args=args)(expect(mode))
