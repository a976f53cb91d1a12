"""The desktop program's end-to-end scenarios. Each drives the real window
through the test hook's log and checks the result twice: in the log (the
lines, boxes and messages a user sees) and on disk (hfsutils on a copy of the
image, quaylink-cli check, the PC files)."""

import os
import shutil
import struct

from harness import WINE_ENV, Failure, check, unix_to_wine

MAIN = "Quaylink"
PC_LIST, MAC_LIST, MAC_DRIVE_BOX, MAC_FOLDER_BOX, MAC_UP = 111, 119, 117, 114, 115
PC_UP, COPY, NEW, DELETE, INFO = 107, 5000, 5001, 5002, 5003
LETTER = b"Dear reader,\rthis file came from a Mac.\r"
NOTE = b"first line\r\nsecond line\r\n"
LOOSE = b"loose\r\n"


# Each preference dialog: its translator box, its tree box, the copy's way.
PREFS = {"PREFMAC": (189, 192, "Mac to PC"), "PREFPC": (180, 184, "PC to Mac")}
CLICKED, SELCHANGE, DBLCLK, CLOSEUP = 0, 1, 2, 8
ALPHA = "[IMAGE Alpha.img]"


def pattern(size):
    return bytes((i * 7) & 255 for i in range(size))


# ---------------------------------------------------------------- fixtures


def make_partitioned(tools, image):
    """An Apple partition map with two HFS volumes of 1440 KB."""
    block, size = 512, 2880
    parts = [(1, 63, b"Apple_partition_map", b"Apple"), (64, size, b"Apple_HFS", b"First"),
             (64 + size, size, b"Apple_HFS", b"Second")]
    total = 64 + 2 * size
    data = bytearray(total * block)
    struct.pack_into(">HHI", data, 0, 0x4552, block, total)
    for n, (start, count, kind, name) in enumerate(parts):
        at = (n + 1) * block
        struct.pack_into(">HHIII", data, at, 0x504D, 0, len(parts), start, count)
        data[at + 16:at + 16 + len(name)] = name
        data[at + 48:at + 48 + len(kind)] = kind
        struct.pack_into(">III", data, at + 80, 0, count, 0x33)
    with open(image, "wb") as f:
        f.write(data)
    tools.run("hformat", "-l", "Part One", image, "1")
    tools.run("hformat", "-l", "Part Two", image, "2")


def write_ini(folder, images, pc_dir, devices=()):
    """PIER.INI listing `images`; of the device steps of discovery only
    those named in `devices` (Floppy, CDROM, BIOS, ASPI) are on."""
    steps = [f"Add{step}={'YES' if step in devices else 'NO'}" for step in ("Floppy", "CDROM", "BIOS", "ASPI")]
    lines = ["[Main Prefs]", f"WorkingDir={unix_to_wine(pc_dir)}", "[Disk Prefs]", *steps, "[Disk Images]"]
    lines += [f"Image{n + 1}={unix_to_wine(path)}" for n, path in enumerate(images)]
    with open(os.path.join(folder, "PIER.INI"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


# ---------------------------------------------------------------- driving


def lines(event, cid):
    return event.control(cid).get("lines", [])


def line_index(event, cid, name):
    for n, line in enumerate(lines(event, cid)):
        if line.split("  ")[0].rstrip() == name or line.startswith(name + " "):
            return n
    raise Failure(f"no line {name!r} in list {cid}: {lines(event, cid)}")


def names(event, cid):
    return [line[:32].rstrip() if cid == MAC_LIST else line[:44].rstrip() for line in lines(event, cid)]


def mnemonic(text):
    at = text.find("&")
    check(at >= 0 and at + 1 < len(text), f"no mnemonic in {text!r}")
    return text[at + 1].lower()


def menu_command(run, main, mid, template=None, shot=None, idle=False):
    """Alt + the menu's mnemonic, then the item's, as read from the dump;
    then as `press`."""
    run.log.mark()
    path = main.menu_item(mid)["path"].split("|")
    run.keys_until(MAIN, ["alt+" + mnemonic(path[0]), mnemonic(path[-1])], f"menu command {mid}",
                   lambda e: e.kind == "command" and e["id"] == mid)
    return run.dialog(template, shot=shot) if template else run.done(mid) if idle else None


def press(run, main, cid, template=None, shot=None, idle=False):
    """Clicks a button of the main window; with `template`, the dialog it
    opens (photographed when `shot` names the picture); with `idle`, the
    main window's dump once the command has ended."""
    run.log.mark()
    run.click_control(main.control(cid))
    return run.dialog(template, shot=shot) if template else run.done(cid) if idle else None


def choose(run, dump, cid, item, shot=None):
    """Opens a drop-down box with a click and closes its list on the first
    item that starts with `item` with the keys, as a user would (the box
    acts when its list closes); the item's index."""
    box = dump.control(cid)
    found = [n for n, text in enumerate(box["items"]) if text.startswith(item)]
    check(found, f"box {cid} lacks {item}: {box['items']}")
    run.click_open(box)
    if shot:
        run.screenshot(shot)
    moves = found[0] - box["sel"] if box["sel"] >= 0 else found[0] + 1
    keys = (["Down"] * moves) if moves >= 0 else (["Up"] * -moves)
    run.keys(dump["title"] if dump.kind == "dialog" else MAIN, *keys, "Return")
    return found[0]


def open_drive(run, main, drive, shot=None):
    """Chooses a drive in the Mac Drive box by its name's start."""
    run.log.mark()
    choose(run, main, MAC_DRIVE_BOX, drive, shot)
    return run.done(MAC_DRIVE_BOX, CLOSEUP)


def open_volume(run, main, drive, volumes, files=None, shot=None):
    """Opens a drive, whose volumes must be `volumes`, and its first volume,
    whose root must hold `files` when given."""
    main = open_drive(run, main, drive, shot)
    check(names(main, MAC_LIST) == volumes, f"{drive}'s volumes: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, volumes[0])
    check(files is None or names(main, MAC_LIST) == files, f"{volumes[0]}'s root: {names(main, MAC_LIST)}")
    return main


def double_click(run, main, cid, name):
    run.log.mark()
    run.click_item(main.control(cid), line_index(main, cid, name), double=True)
    return run.done(cid, DBLCLK)


def select(run, main, cid, name):
    run.log.mark()
    index = line_index(main, cid, name)
    run.click_item(main.control(cid), index)
    main = run.done(cid, SELCHANGE)
    check(index in main.control(cid)["selected"], f"{name} selected in list {cid}")
    return main


def answer_message(run, key, caption=None, text=None, start=""):
    """Awaits a message box (its caption, its text or its text's start
    checked when given) and answers it with a key."""
    message = run.wait("a message box", lambda e: e.kind == "message")
    check(caption in (None, message["caption"]), f"message caption {message['caption']!r}, wanted {caption!r}")
    check(text in (None, message["text"]) and message["text"].startswith(start), f"message text {message['text']!r}")
    run.keys_until(message["caption"] or "Error", [key], "the message box's answer", lambda e: e.kind == "answer")
    return message


def copy(run, main, template, translator=None, tree=False, fields=(), shot=None, count="", idle=True):
    """Copy through the preference dialog `template`: `translator` chosen,
    the tree box ticked when `tree`, `fields` (id, text) typed, OK; then the
    count (starting with `count`) answered OK. With `idle`, the main
    window's dump once the copy has ended."""
    combo, tree_box, direction = PREFS[template]
    prefs = press(run, main, COPY, template, shot)
    if translator:
        choose(run, prefs, combo, translator)
    if tree and prefs.control(tree_box)["checked"] != 1:
        click_in_dialog(run, prefs, tree_box)
    submit(run, prefs, fields)
    closed = run.dialog(template, "close")
    check(closed["end"] == 1, f"{template} ends with OK")
    check(not tree or closed.control(tree_box)["checked"] == 1, "Copy Entire Directory Tree ticked")
    answer_message(run, "Return", f"Ready to copy from {direction}", start="Files to copy:\t" + count)
    return run.done(COPY) if idle else None


def delete(run, main, warning=False):
    """Delete through the folder warning (when `warning`) and the count of
    one file, both answered OK."""
    press(run, main, DELETE)
    if warning:
        answer_message(run, "Return", "WARNING")
    answer_message(run, "Return", start="Files to delete:\t1\n")
    return run.done(DELETE)


def format_drive(run, opener, drive, label, chosen=False, shot=None):
    """The Format dialog, opened by command `opener`: `drive` chosen (or,
    when `chosen`, already chosen), the label typed, OK, the warning
    answered; the main window's dump once the drive is formatted."""
    dialog = run.dialog("Format", shot=shot)
    if chosen:
        check(dialog.control(117)["text"] == drive, f"{drive} chosen in the Format dialog")
    index = None if chosen else choose(run, dialog, 117, drive)
    submit(run, dialog, ((300, label),))
    end = run.dialog("Format", "close")["end"]
    check(chosen or end == index, f"Format ends with {end}, the chosen drive's index is {index}")
    answer_message(run, "Return", "WARNING!")
    return run.done(opener, timeout=90)


def submit(run, dialog, fields=(), key="Return"):
    """Types `fields` (id, text) into a dialog, each over the old text, and
    ends it with a key."""
    for cid, text in fields:
        click_in_dialog(run, dialog, cid)
        run.keys(dialog["title"], "End", "shift+Home", "BackSpace")
        run.type(dialog["title"], text)
    run.keys(dialog["title"], key)


def click_in_dialog(run, dialog, cid):
    run.focus(dialog["title"])
    run.click_control(dialog.control(cid))


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


# ---------------------------------------------------------------- scenarios


def browse(run, env):
    """Two images in PIER.INI, one partitioned; volumes, folders, "..", the
    path box, double-clicks, sorting and type-to-select."""
    main = run.start()
    check(main["pane"] == 0, "the Mac pane is active at start")
    check(main.control(COPY)["text"] == "&Copy From Mac", f"Copy button reads {main.control(COPY)['text']!r}")
    items = main.control(MAC_DRIVE_BOX)["items"]
    check(ALPHA in items and "[IMAGE Parts.img]" in items, f"Mac Drive box: {items}")
    check("pcsrc" in names(main, PC_LIST), f"PC list: {names(main, PC_LIST)}")
    # Copy with no volume open is refused before anything else is looked at.
    press(run, main, COPY)
    answer_message(run, "Return", "No Mac Volume Mounted", 'First select a drive from the "Mac Drive" box, then'
                   ' double-click a volume in the "Mac Files" box.')
    main = run.done(COPY)

    main = open_drive(run, main, "[IMAGE Parts.img]")
    check(names(main, MAC_LIST) == ["Part One", "Part Two"], f"partitioned image: {names(main, MAC_LIST)}")
    check(all("[VOLUME]" in line for line in lines(main, MAC_LIST)), "volume lines")

    main = open_volume(run, main, ALPHA, ["Alpha"], ["Documents", "Apple", "Banana", "Cherry"])
    check("[FOLDER]" in lines(main, MAC_LIST)[0], "folder line")
    banana = lines(main, MAC_LIST)[line_index(main, MAC_LIST, "Banana")]
    check("88K" in banana, f"Banana's size column: {banana!r}")

    main = double_click(run, main, MAC_LIST, "Documents")
    check(names(main, MAC_LIST) == ["Letters"], f"Documents: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Letters")
    check(names(main, MAC_LIST) == ["Welcome"], f"Letters: {names(main, MAC_LIST)}")
    welcome = lines(main, MAC_LIST)[0]
    check("TEXT" in welcome and "ttxt" in welcome, f"Welcome's line: {welcome!r}")
    path = main.control(MAC_FOLDER_BOX)["items"]
    check(path[:3] == ["Letters", "Documents", "Alpha"], f"path box: {path}")

    main = press(run, main, MAC_UP, idle=True)
    check(names(main, MAC_LIST) == ["Letters"], f"'..' from Letters: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Letters")
    run.log.mark()
    choose(run, main, MAC_FOLDER_BOX, "Alpha")
    main = run.done(MAC_FOLDER_BOX, CLOSEUP)
    check(names(main, MAC_LIST)[0] == "Documents", f"path box to the root: {names(main, MAC_LIST)}")

    main = menu_command(run, main, 253, idle=True)  # Sort By Size: largest first, folders first
    check(names(main, MAC_LIST) == ["Documents", "Banana", "Cherry", "Apple"], f"by size: {names(main, MAC_LIST)}")
    check(main.menu_item(253)["checked"] == 1 and main.menu_item(250)["checked"] == 0, "Sort By check marks")
    main = menu_command(run, main, 250, idle=True)

    # Type-to-select answers no command: the no-op of choosing the sort in
    # force asks for a fresh dump.
    main = select(run, main, MAC_LIST, "Apple")
    run.keys(MAIN, "c")
    main = menu_command(run, main, 250, idle=True)
    check(main.control(MAC_LIST)["selected"] == [line_index(main, MAC_LIST, "Cherry")],
          f"typing c selects Cherry: {main.control(MAC_LIST)['selected']}")

    # The PC pane: into a directory with a double-click, back with "..".
    main = double_click(run, main, PC_LIST, "pcsrc")
    check(main["pane"] == 1 and main["pcdir"].endswith("pcsrc"), f"PC directory {main['pcdir']!r}")
    check(main.control(COPY)["text"] == "&Copy From PC", "PC names on the buttons")
    check("sub" in names(main, PC_LIST), f"pcsrc: {names(main, PC_LIST)}")
    main = press(run, main, PC_UP, idle=True)
    check(not main["pcdir"].endswith("pcsrc"), "'..' leaves pcsrc")
    run.screenshot("main-window")
    run.exit()
    # Browsing wrote nothing a checker could fault.
    env["tools"].check_volume(env["alpha"])
    env["tools"].check_volume(env["parts"], 2)


def copy_trees(run, env):
    """Mac to PC with MacBinary, PC to Mac with Text, through the preference
    dialogs, whole trees; a name collision answered each way."""
    tools, pc = env["tools"], env["pc"]
    main = open_volume(run, run.start(), ALPHA, ["Alpha"])

    # Mac -> PC: the Documents tree as MacBinary.
    main = select(run, main, MAC_LIST, "Documents")
    main = copy(run, main, "PREFMAC", "MacBinary", tree=True, shot="dialog-prefmac", count="1\n")
    written = [os.path.relpath(os.path.join(d, f), pc) for d, _, fs in os.walk(pc) for f in fs]
    macbinary = [p for p in written if p.startswith("Documents")]
    check(len(macbinary) == 1 and "Letters" in macbinary[0], f"PC files after the copy: {written}")
    data = read(pc, macbinary[0])
    check(data[65:73] == b"TEXTttxt", "MacBinary header type and creator")
    length = struct.unpack(">I", data[83:87])[0]
    check(data[128:128 + length] == LETTER, "MacBinary data fork holds the Mac file's bytes")
    check(os.path.basename(macbinary[0]) in names(main, PC_LIST) or "Documents" in names(main, PC_LIST),
          "the PC list shows the copy")

    # Mac -> PC collision: the same file three times as Data File; the
    # second answers OverWrite, the third a new name.
    for answer in (None, "overwrite", "rename"):
        main = select(run, main, MAC_LIST, "Apple")
        copy(run, main, "PREFMAC", "Data File", idle=False)
        if answer is not None:
            collision = run.dialog("PCOLLISION", shot="dialog-pcollision" if answer == "overwrite" else None)
            check(collision.control(403)["text"] == "Apple", f"PCOLLISION names {collision.control(403)['text']!r}")
            if answer == "overwrite":
                click_in_dialog(run, collision, 402)
            else:
                run.type(collision["title"], "apple2.dat")
                submit(run, collision)
            check(run.dialog("PCOLLISION", "close")["end"] == {"overwrite": 3, "rename": 0}[answer],
                  f"{answer} ends the collision dialog with its code")
        main = run.done(COPY)
        check(sorted(n for n in os.listdir(pc) if n.lower().startswith("apple")) ==
              {None: ["Apple"], "overwrite": ["Apple"], "rename": ["Apple", "apple2.dat"]}[answer],
              f"PC files after the copy ({answer}): {os.listdir(pc)}")
    for name in ("Apple", "apple2.dat"):
        check(read(pc, name) == pattern(3000), f"PC file {name} holds Apple's bytes")

    # PC -> Mac: the pcsrc tree as text. No type map beside the program:
    # the type and creator typed here apply.
    main = select(run, main, PC_LIST, "pcsrc")
    main = copy(run, main, "PREFPC", "Text File", tree=True, fields=((182, "TEXT"), (183, "ttxt")),
                shot="dialog-prefpc")
    check("pcsrc" in names(main, MAC_LIST), f"Mac list after the copy: {names(main, MAC_LIST)}")
    check(sorted(tools.hls(env["alpha"], ":pcsrc")) == ["note.txt", "sub"], "hls :pcsrc")
    check(tools.hcopy_out(env["alpha"], ":pcsrc:sub:deep.txt") == NOTE.replace(b"\r\n", b"\r"),
          "Text File turns CR LF into CR")
    check(tools.hattrib(env["alpha"], ":pcsrc:note.txt") == ("TEXT", "ttxt"), "the type and creator typed")

    # PC -> Mac collision: Skip leaves the Mac file alone.
    main = double_click(run, main, PC_LIST, "pcsrc")
    main = double_click(run, main, MAC_LIST, "pcsrc")
    # Clicking in a pane clears the other's selection: the PC file last.
    main = select(run, main, PC_LIST, "note.txt")
    check(main.control(MAC_LIST)["selected"] == [], "the Mac selection cleared")
    copy(run, main, "PREFPC", idle=False)
    collision = run.dialog("MCOLLISION", shot="dialog-mcollision")
    click_in_dialog(run, collision, 406)
    check(run.dialog("MCOLLISION", "close")["end"] == 1, "Skip ends with 1")
    main = run.done(COPY)
    check(sorted(tools.hls(env["alpha"], ":pcsrc")) == ["note.txt", "sub"], "Skip copies nothing")
    run.exit()
    tools.check_volume(env["alpha"])


def cancel_copy(run, env):
    """A long PC -> Mac copy cancelled from the progress window: the copy
    stops part way and the volume stays consistent."""
    tools = env["tools"]
    main = open_volume(run, run.start(), "[IMAGE Big.img]", ["Big"])
    main = select(run, main, PC_LIST, "many")
    copy(run, main, "PREFPC", "Data File", tree=True, count=f"{env['many']}\n", idle=False)
    progress = run.wait("the progress window", lambda e: e.kind == "progress" and e["event"] == "open")
    check(progress["title"] == "Copying from PC to Mac", f"progress title {progress['title']!r}")
    run.wait("a copied item", lambda e: e.kind == "progress" and e["event"] == "item")
    run.focus(progress["title"])
    run.screenshot("progress-window")
    if progress.controls.get(2):
        run.click_control(progress.control(2))
    else:
        run.keys(progress["title"], "Escape")
    run.wait("the progress window closing", lambda e: e.kind == "progress" and e["event"] == "close", timeout=60)
    run.done(COPY)
    run.exit()
    copied = tools.hls(env["big"], ":many")
    check(0 < len(copied) < env["many"], f"{len(copied)} of {env['many']} files copied before Cancel")
    tools.check_volume(env["big"])


def delete_both(run, env):
    """Delete on the Mac and on the PC through the warning and the count."""
    tools, pc = env["tools"], env["pc"]
    main = open_volume(run, run.start(), ALPHA, ["Alpha"])
    main = select(run, main, MAC_LIST, "Documents")
    press(run, main, DELETE)
    check(answer_message(run, "Escape", "WARNING")["text"], "a folder warning")
    main = run.done(DELETE)
    check("Documents" in tools.hls(env["alpha"]), "Cancel at the warning deletes nothing")
    main = delete(run, main, warning=True)
    check("Documents" not in names(main, MAC_LIST), "Documents gone from the Mac list")
    check("Documents" not in tools.hls(env["alpha"]), "hls: Documents deleted")

    main = delete(run, select(run, main, PC_LIST, "loose.txt"))
    check(not os.path.exists(os.path.join(pc, "loose.txt")), "loose.txt deleted")
    check("loose.txt" not in names(main, PC_LIST), "loose.txt gone from the PC list")
    run.exit()
    tools.check_volume(env["alpha"])


def create_and_info(run, env):
    """A Mac folder, a PC directory, a Mac file renamed with a new type and
    creator, a PC file renamed."""
    tools, pc = env["tools"], env["pc"]
    main = open_volume(run, run.start(), ALPHA, ["Alpha"])
    dialog = press(run, main, NEW, "CREATEFLD", "dialog-createfld")
    run.type(dialog["title"], "Fresh Folder")
    submit(run, dialog)
    main = run.done(NEW)
    check("Fresh Folder" in names(main, MAC_LIST), "the new folder is listed")
    check("Fresh Folder" in tools.hls(env["alpha"]), "hls: the new folder")

    main = select(run, main, MAC_LIST, "Cherry")
    info = press(run, main, INFO, "MACINFO", "dialog-macinfo")
    check(info.control(151)["text"] == "Cherry", "MACINFO shows the name")
    submit(run, info, ((151, "Cherry Pie"), (153, "TTRO"), (155, "ttxt")))
    answer_message(run, "y", "Change Mac File Info", "Rename this file?\nChange file type?\nChange file creator?")
    check(run.dialog("MACINFO", "close")["end"] == 1, "MACINFO ends with OK")
    main = run.done(INFO)
    check("Cherry Pie" in names(main, MAC_LIST), "renamed in the Mac list")
    check(tools.hattrib(env["alpha"], ":Cherry Pie") == ("TTRO", "ttxt"), "hls: the new type and creator")

    main = select(run, main, PC_LIST, "info.txt")
    dialog = press(run, main, NEW, "CREATEDIR", "dialog-createdir")
    run.type(dialog["title"], "newdir")
    submit(run, dialog)
    main = run.done(NEW)
    check(os.path.isdir(os.path.join(pc, "newdir")), "the PC directory exists")
    check("newdir" in names(main, PC_LIST), "the PC list shows it")

    main = select(run, main, PC_LIST, "info.txt")
    submit(run, press(run, main, INFO, "DOSINFO", "dialog-dosinfo"), ((141, "renamed.txt"),))
    answer_message(run, "y", "Rename PC File")
    run.dialog("DOSINFO", "close")
    main = run.done(INFO)
    check(os.path.exists(os.path.join(pc, "renamed.txt")) and not os.path.exists(os.path.join(pc, "info.txt")),
          "the PC file renamed")

    submit(run, menu_command(run, main, 220, "ABOUTBOX", "dialog-about"))
    run.dialog("ABOUTBOX", "close")
    run.exit()
    tools.check_volume(env["alpha"])


def format_image(run, env):
    """Format an image through the Format dialog and its warning."""
    tools = env["tools"]
    menu_command(run, run.start(), 210)
    format_drive(run, 210, "[IMAGE Blank.img]", "Fresh Disk", shot="dialog-format")
    listing = tools.hls(env["blank"], invisible=False)
    check(listing == [], f"the formatted volume is empty: {listing}")
    check(tools.volume_name(env["blank"]) == "Fresh Disk", "the new label")
    run.exit()
    tools.check_volume(env["blank"])


def disk_image_menu(run, env):
    """Open Disk Image and New Disk Image from the File menu."""
    tools = env["tools"]
    menu_command(run, run.start(), 5010)
    run.focus("Open Disk Image")
    run.screenshot("dialog-open-disk-image")
    run.type("Open Disk Image", unix_to_wine(env["third"]))
    run.keys("Open Disk Image", "Return")
    main = run.done(5010)
    check("[IMAGE Third.img]" in main.control(MAC_DRIVE_BOX)["items"], "the opened image joins the Mac Drive box")
    check("Third" in names(main, MAC_LIST), f"its volume is listed: {names(main, MAC_LIST)}")
    check("Third.img" in run.read_ini(), "PIER.INI lists the opened image")

    menu_command(run, main, 5011)
    made = os.path.join(env["work"], "Made.img")
    run.type("New Disk Image", unix_to_wine(made))
    run.keys("New Disk Image", "Return")
    format_drive(run, 5011, "[IMAGE Made.img]", "Made Here", chosen=True)
    check(os.path.getsize(made) == 1474560, "a 1.44 MB image")
    check(tools.volume_name(made) == "Made Here", "the new image's label")
    run.exit()
    tools.check_volume(made)

    # An image named on the command line opens the same way.
    main = run.start(unix_to_wine(env["arg"]))
    check("[IMAGE Arg.img]" in main.control(MAC_DRIVE_BOX)["items"], "the argument's image in the Mac Drive box")
    check(names(main, MAC_LIST) == ["Arg"], f"the argument's volume is listed: {names(main, MAC_LIST)}")
    run.exit()


def prefs_saved(run, env):
    """Preferences changed, saved at exit, read at the next start."""
    main = run.start()
    check(main.menu_item(272)["checked"] == 0, "Save Prefs on Exit starts off")
    main = menu_command(run, main, 272, idle=True)
    check(main.menu_item(272)["checked"] == 1, "Save Prefs on Exit ticked")
    main = menu_command(run, main, 254, idle=True)
    prefs = menu_command(run, main, 270, "PREFMAC")
    choose(run, prefs, 189, "BinHex (HQX)")
    submit(run, prefs)
    run.dialog("PREFMAC", "close")
    run.done(270)
    run.exit()
    ini = run.read_ini().replace(" ", "")
    for entry in ("SavePrefs=YES", "MacSort=254", "MacTrans=4"):
        check(entry in ini, f"PIER.INI lacks {entry}")

    main = run.start()
    check(main.menu_item(272)["checked"] == 1, "Save Prefs on Exit read back")
    check(main["macsort"] == 254 and main.menu_item(254)["checked"] == 1, "the Mac sort read back")
    prefs = menu_command(run, main, 270, "PREFMAC")
    check(prefs.control(189)["sel"] == 4, "the Mac translator read back")
    submit(run, prefs, key="Escape")
    run.dialog("PREFMAC", "close")
    run.exit()


# ---------------------------------------------------------------- devices
# A simulated SCSI adapter (our wnaspi32.dll beside the program) and Wine
# drive letters mapped to image files stand in for the hardware.

MEMO = b"Memo from a SCSI disk.\r"
DISC = b"Read me from the disc.\r"


# Answers the simulated adapter forces on its n-th request (counted from
# the first inquiry of discovery): transfers while the disk is opened,
# browsed and written, each of which the retry loop must get through.
ASPI_FAULTS = {15: "toobig", 17: "check", 24: "busy", 28: "hastat", 38: "check"}
ASPI_STATUS = {"toobig": "status=e6", "check": "status=04 hastat=00 targstat=02", "busy": "status=e5",
               "hastat": "status=04 hastat=11"}


def check_retries(path):
    """Each forced answer fell on a transfer and its retry went through:
    the same command at the same block, half the blocks after "too big"."""
    with open(path) as f:
        log = [line.strip() for line in f if line.startswith(("exec", "done"))]
    requests = list(zip(log[0::2], log[1::2]))  # (request, answer)
    for n, kind in ASPI_FAULTS.items():
        (asked, answer), (again, result) = requests[n - 1], requests[n]
        fields = dict(item.split("=") for item in asked.split()[2:])
        retry = dict(item.split("=") for item in again.split()[2:])
        check(asked.split()[1] in ("28", "2a") and ASPI_STATUS[kind] in answer,
              f"request {n} ({kind}): {asked} -> {answer}")
        count = (int(fields["count"]) + 1) // 2 if kind == "toobig" else int(fields["count"])
        check(again.split()[1] == asked.split()[1] and retry["lba"] == fields["lba"] and int(retry["count"]) == count
              and "status=01" in result, f"retry of request {n} ({kind}): {again} -> {result}")


def copy_to_pc(run, main, name, data, pc):
    """One Mac file to the PC as Data File, where it must hold `data`."""
    main = copy(run, select(run, main, MAC_LIST, name), "PREFMAC", "Data File")
    check(read(pc, name) == data, f"the PC copy of {name} holds its bytes")
    return main


def scsi_and_diskette(run, env):
    """The simulated adapter's disk and CD-ROM, then the mapped diskette, in
    the Mac Drive box; the diskette formatted through the Format dialog; a
    copy each way and a delete on the SCSI disk."""
    tools, pc = env["tools"], env["pc"]
    main = run.start(env=env["aspi"])
    items = main.control(MAC_DRIVE_BOX)["items"]
    check(len(items) == 4 and items[0].startswith("[WASPI-DISK 03] ") and items[1].startswith("[WASPI-CDRM 05] ")
          and items[2:] == ["[DISKETTE A]", ALPHA], f"Mac Drive box with the adapter: {items}")
    # The diskette drive, formatted as a user would format a real one (first:
    # the menu's keys are surest while no other window has come and gone).
    menu_command(run, main, 210)
    main = format_drive(run, 210, "[DISKETTE A]", "Fresh Floppy")
    main = open_volume(run, main, "[DISKETTE A]", ["Fresh Floppy"], [], shot="devices-drive-box-aspi")
    main = open_volume(run, main, "[WASPI-DISK 03] ", ["Part One", "Part Two"], ["Memo", "Scrap"])
    main = copy_to_pc(run, main, "Memo", MEMO, pc)

    main = copy(run, select(run, main, PC_LIST, "loose.txt"), "PREFPC", "Data File")
    check("loose.txt" in names(main, MAC_LIST), f"Mac list after the copy: {names(main, MAC_LIST)}")
    main = delete(run, select(run, main, MAC_LIST, "Scrap"))
    check(names(main, MAC_LIST) == ["loose.txt", "Memo"], f"Part One after the delete: {names(main, MAC_LIST)}")
    run.exit()

    check_retries(env["aspi_log"])
    disk = env["parts"]
    listing = tools.hls(disk, partition=1, invisible=False)
    check(sorted(listing) == ["Memo", "loose.txt"], f"hls Part One: {listing}")
    check(tools.hcopy_out(disk, ":loose.txt", partition=1) == LOOSE, "the PC file's bytes on the SCSI disk")
    check(tools.hls(disk, partition=2, invisible=False) == [], "Part Two untouched")
    tools.check_volume(disk, 1)
    tools.check_volume(disk, 2)
    check(tools.volume_name(env["floppy"]) == "Fresh Floppy", "hfsutils reads the diskette's new label")
    check(tools.hls(env["floppy"], invisible=False) == [], "the old diskette's folder is gone")
    tools.check_volume(env["floppy"])


def cdrom(run, env):
    """Without the adapter the mapped CD-ROM letter is listed; its volume
    is read: a copy to the PC, and Delete refused."""
    tools, pc = env["tools"], env["pc"]
    write_ini(run.program_dir, [env["alpha"]], pc, devices=("Floppy", "CDROM", "BIOS"))
    main = run.start()
    items = main.control(MAC_DRIVE_BOX)["items"]
    check(items == ["[CDROM E]", "[DISKETTE A]", ALPHA], f"Mac Drive box with mapped drives: {items}")
    main = open_volume(run, main, "[CDROM E]", ["Disc"], ["Read Me"], shot="devices-drive-box-mapped")
    main = copy_to_pc(run, main, "Read Me", DISC, pc)
    press(run, select(run, main, MAC_LIST, "Read Me"), DELETE)
    answer_message(run, "Return", text="This Mac drive is read only.")
    run.done(DELETE)
    run.exit()
    check(tools.hls(env["disc"], invisible=False) == ["Read Me"], "the disc unchanged")


# The runs: each one X server and prefix; its scenarios share the files.
RUNS = {
    "browse": [browse],
    "copy": [copy_trees, cancel_copy],
    "edit": [delete_both, create_and_info, format_image, disk_image_menu, prefs_saved],
    "devices": [scsi_and_diskette, cdrom],
}
VOLUMES = {"devices": (("alpha", "Alpha", 1440), ("floppy", "Old Floppy", 1440), ("disc", "Disc", 800)),
           "": (("alpha", "Alpha", 1440), ("big", "Big", 16384), ("blank", "Blank", 1440), ("third", "Third", 1440),
                ("arg", "Arg", 1440))}


def prepare(run, tools):
    """The images and PC files every scenario of a run starts from. The
    devices run has a SCSI disk with an Apple partition map and a CD-ROM
    image served by the simulated adapter, a diskette image on A: and a
    CD-ROM image of 2048-byte sectors on E:."""
    devices = run.name == "devices"
    work = os.path.join(run.tmp, "files")
    pc = os.path.join(work, "pc")
    env = {"tools": tools, "work": work, "pc": pc, "many": 1500}
    files = {"loose.txt": LOOSE}
    if not devices:
        files.update({"pcsrc/note.txt": NOTE, "pcsrc/sub/deep.txt": NOTE, "info.txt": LOOSE})
        files.update({f"many/f{n:04}.dat": bytes([n & 255]) * 4096 for n in range(env["many"])})
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(pc, name)), exist_ok=True)
        with open(os.path.join(pc, name), "wb") as f:
            f.write(data)
    for key, label, size in VOLUMES["devices" if devices else ""]:
        env[key] = os.path.join(work, f"{key.capitalize()}.img")
        with open(env[key], "wb") as f:
            f.truncate(size * 1024)
        tools.run("hformat", "-l", label, env[key])
    # The volume a scenario formats has a folder to lose.
    tools.hfs(env["floppy" if devices else "blank"], ("hmkdir", ":Old Folder"), copy=False)
    env["parts"] = os.path.join(work, "Parts.img")
    make_partitioned(tools, env["parts"])
    if not devices:
        welcome = ":Documents:Letters:Welcome"
        tools.hfs(env["alpha"], ("hmkdir", ":Documents"), ("hmkdir", ":Documents:Letters"),
                  ("hcopy", "-r", tools.source("letter", LETTER), welcome),
                  ("hattrib", "-t", "TEXT", "-c", "ttxt", welcome),
                  *[("hcopy", "-r", tools.source(name, pattern(size)), ":" + name)
                    for name, size in (("Apple", 3000), ("Banana", 90000), ("Cherry", 20000))], copy=False)
        write_ini(run.program_dir, [env["alpha"], env["parts"], env["big"], env["blank"]], pc)
        return env
    tools.hfs(env["parts"], ("hcopy", "-r", tools.source("memo", MEMO), ":Memo"),
              ("hcopy", "-r", tools.source("scrap", b"scrap\r" * 300), ":Scrap"), partition=1, copy=False)
    tools.hfs(env["disc"], ("hcopy", "-r", tools.source("disc", DISC), ":Read Me"), copy=False)
    # The adapter's CD-ROM holds its own copy: the letter E: serves the other.
    aspi_disc = shutil.copy(env["disc"], os.path.join(work, "aspi-disc.img"))
    env["aspi_log"] = os.path.join(run.tmp, "aspi.log")
    run.side_logs.append((env["aspi_log"], f"{run.name}-aspi.log"))
    env["aspi"] = {
        "WINEDLLOVERRIDES": WINE_ENV["WINEDLLOVERRIDES"] + ";wnaspi32=n",
        "QUAYLINK_SIM_ASPI": f"0:3:disk:512:{unix_to_wine(env['parts'])};0:5:cdrom:2048:{unix_to_wine(aspi_disc)}",
        "QUAYLINK_SIM_ASPI_LOG": unix_to_wine(env["aspi_log"]),
        "QUAYLINK_SIM_ASPI_FAULTS": ",".join(f"{kind}@{n}" for n, kind in sorted(ASPI_FAULTS.items())),
    }
    shutil.copy(os.path.join(run.build, "tests", "wnaspi32.dll"), run.program_dir)  # found beside the program
    run.map_drive("a", env["floppy"])
    run.map_drive("e", env["disc"], cdrom=True)
    write_ini(run.program_dir, [env["alpha"]], pc, devices=("Floppy", "ASPI"))
    return env
