"""The caption, the closing box itself, and what its buttons do."""
from bed import scenario, DEFAULT_CAPTION, OK, CANCEL, RESTART_QUESTION, VERSION_TEXT

for name, ini, caption in [
    ("caption_names_the_manufacturer", "[tolvanix]\r\nManufacturer=Acme Print\r\n",
     "Acme Print PrintProcessor patch"),
    ("caption_without_manufacturer_key", "[tolvanix]\r\nOther=1\r\n", DEFAULT_CAPTION),
    ("caption_with_empty_manufacturer", "[tolvanix]\r\nManufacturer=\r\n",
     " PrintProcessor patch"),
    ("caption_without_config_file", None, DEFAULT_CAPTION),
]:
    scenario(name, args="/V", ini=ini)(
        lambda r, caption=caption: r.expect_box(text=VERSION_TEXT, caption=caption))


@scenario(args="/V")
def closing_box_has_exactly_ok_and_cancel_and_no_icon(r):
    box = r.expect_box(text=VERSION_TEXT, caption=DEFAULT_CAPTION)
    r.check([ident for ident, _ in box.buttons] == [OK, CANCEL], "buttons: %r" % box.buttons)
    r.check(not box.icon, "the box shows an icon")


@scenario(args="/V", answer="ok")
def version_box_ok_requests_restart(r):
    r.expect_box(text=VERSION_TEXT)
    r.expect_restart(True)


@scenario(args="/V", answer="cancel")
def version_box_cancel_requests_nothing(r):
    r.expect_box(text=VERSION_TEXT)
    r.expect_restart(False)


@scenario(args="/V", answer="escape")
def version_box_escape_requests_nothing(r):
    r.expect_box(text=VERSION_TEXT)
    r.expect_restart(False)


@scenario(program="Setup.exe", windows="winxp", answer="ok")
def patch_box_ok_requests_restart(r):
    r.expect_mode("P")
    r.expect_restart(True)


@scenario(program="uninst.exe", windows="nt40", answer="ok")
def uninstall_box_ok_requests_restart(r):
    r.expect_mode("U")
    r.expect_restart(True)


@scenario(program="Diag.exe", answer="ok")
def diagnose_never_offers_restart(r):
    r.expect_no_box()
    r.expect_restart(False)
