"""The bed's own footing: what it takes for a restart is what Wine does at a restart."""
from bed import scenario, VERSION_TEXT


@scenario(args="/V", answer="cancel")
def bed_new_session_carries_out_pending_renames(r):
    r.expect_box(text=VERSION_TEXT)
    r.check(r.pending == [] and r.exists("C:\\tolvbed\\restart.src"),
            "the marker is not pending after Cancel")
    r.after_restart()
    r.check(r.exists("C:\\tolvbed\\restart.dst") and not r.exists("C:\\tolvbed\\restart.src"),
            "a new session did not carry out the pending marker rename")
