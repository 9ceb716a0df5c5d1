"""The run control seen from outside: OK in the closing box restarts Windows (every row that
answers Cancel shows that it does not)."""
from bed import row

row("version_box_ok_asks_for_the_restart", args="/V", mode="V", answer="ok",
    ini="[tolvanix]\r\nManufacturer=Acme Print\r\n", check=lambda r: r.expect(
        "caption", "Acme Print PrintProcessor patch", r.boxes[0]["caption"]))
