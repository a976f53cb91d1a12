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


# ---------------------------------------------------------------- fixtures


def make_volume(tools, image, label, size_kb=1440):
    with open(image, "wb") as f:
        f.truncate(size_kb * 1024)
    tools.run("hformat", "-l", label, image)


def fill_alpha(tools, work, image):
    """Folders two deep, a text file, files of known sizes for sorting."""
    tools.run("hmount", image)
    tools.run("hmkdir", ":Documents")
    tools.run("hmkdir", ":Documents:Letters")
    letter = os.path.join(work, "letter.txt")
    with open(letter, "wb") as f:
        f.write(LETTER)
    tools.run("hcopy", "-r", letter, ":Documents:Letters:Welcome")
    tools.run("hattrib", "-t", "TEXT", "-c", "ttxt", ":Documents:Letters:Welcome")
    for name, size in (("Apple", 3000), ("Banana", 90000), ("Cherry", 20000)):
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(bytes((i * 7) & 255 for i in range(size)))
        tools.run("hcopy", "-r", path, ":" + name)
    tools.run("humount")


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


def write_ini(run, images, pc_dir, extra="", devices=()):
    """PIER.INI listing `images`; of the device steps of discovery only
    those named in `devices` (Floppy, CDROM, BIOS, ASPI) are on."""
    steps = [f"Add{step}={'YES' if step in devices else 'NO'}" for step in ("Floppy", "CDROM", "BIOS", "ASPI")]
    lines = ["[Main Prefs]", f"WorkingDir={unix_to_wine(pc_dir)}", extra.strip(), "[Disk Prefs]", *steps,
             "[Disk Images]"]
    lines += [f"Image{n + 1}={unix_to_wine(path)}" for n, path in enumerate(images)]
    run.write_ini("\n".join(line for line in lines if line) + "\n")


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


def menu_command(run, main, mid):
    """Alt + the menu's mnemonic, then the item's, as read from the dump."""
    path = main.menu_item(mid)["path"].split("|")
    run.keys_until(MAIN, ["alt+" + mnemonic(path[0]), mnemonic(path[-1])], f"menu command {mid}",
                   lambda e: e.kind == "command" and e["id"] == mid)


def choose_in_combo(run, window, dump, cid, index):
    """Opens a drop-down list with a click and closes it on `index` with the
    keys, as a user would; the box acts when its list closes."""
    box = dump.control(cid)
    run.click_open(box)
    moves = index - box["sel"] if box["sel"] >= 0 else index + 1
    keys = (["Down"] * moves) if moves >= 0 else (["Up"] * -moves)
    run.keys(window, *keys, "Return")


CLICKED, SELCHANGE, DBLCLK, CLOSEUP = 0, 1, 2, 8


def command_idle(run, cid, code=CLICKED, timeout=60):
    """The main window's dump when the command `cid` with notification
    `code` has ended (a button or menu item: 0; a list: 1 selection, 2
    double-click; a box: 8 when its list closes)."""
    return run.done(cid, code, timeout)


def open_drive(run, main, image_name):
    items = main.control(MAC_DRIVE_BOX)["items"]
    label = f"[IMAGE {image_name}]"
    check(label in items, f"Mac Drive box lacks {label}: {items}")
    run.log.mark()
    choose_in_combo(run, MAIN, main, MAC_DRIVE_BOX, items.index(label))
    return command_idle(run, MAC_DRIVE_BOX, CLOSEUP)


def double_click(run, main, cid, name):
    run.log.mark()
    run.click_item(main.control(cid), line_index(main, cid, name), double=True)
    return command_idle(run, cid, DBLCLK)


def select(run, main, cid, name, extend=False):
    run.log.mark()
    control = main.control(cid)
    index = line_index(main, cid, name)
    if extend:
        run.xdo("keydown", "ctrl")
    run.click_item(control, index)
    if extend:
        run.xdo("keyup", "ctrl")
    main = command_idle(run, cid, SELCHANGE)
    check(index in main.control(cid)["selected"], f"{name} selected in list {cid}")
    return main


def open_alpha_root(run, main):
    main = open_drive(run, main, "Alpha.img")
    check(names(main, MAC_LIST) == ["Alpha"], f"Alpha.img's volume list: {names(main, MAC_LIST)}")
    return double_click(run, main, MAC_LIST, "Alpha")


def answer_message(run, key, caption=None):
    message = run.message()
    if caption is not None:
        check(message["caption"] == caption, f"message caption {message['caption']!r}, wanted {caption!r}")
    run.keys_until(message["caption"] or "Error", [key], "the message box's answer", lambda e: e.kind == "answer")
    return message


def confirm_copy(run, direction):
    """The count before a copy, answered OK."""
    message = answer_message(run, "Return", f"Ready to copy from {direction}")
    check(message["text"].startswith("Files to copy:\t"), f"copy count {message['text']!r}")
    return message


def set_field(run, dialog, cid, text):
    click_in_dialog(run, dialog, cid)
    run.keys(dialog["title"], "End", "shift+Home", "BackSpace")
    run.type(dialog["title"], text)


def press_in_dialog(run, dialog, *keys):
    run.keys(dialog["title"], *keys)


def click_in_dialog(run, dialog, cid):
    run.focus(dialog["title"])
    run.click_control(dialog.control(cid))


def pc_path(pc, *parts):
    return os.path.join(pc, *parts)


# ---------------------------------------------------------------- scenarios


def browse(run, env):
    """Two images in PIER.INI, one partitioned; volumes, folders, "..", the
    path box, double-clicks, sorting and type-to-select."""
    main = run.start()
    check(main["pane"] == 0, "the Mac pane is active at start")
    check(main.control(COPY)["text"] == "&Copy From Mac", f"Copy button reads {main.control(COPY)['text']!r}")
    items = main.control(MAC_DRIVE_BOX)["items"]
    check("[IMAGE Alpha.img]" in items and "[IMAGE Parts.img]" in items, f"Mac Drive box: {items}")
    check("pcsrc" in names(main, PC_LIST), f"PC list: {names(main, PC_LIST)}")
    # Copy with no volume open is refused before anything else is looked at.
    run.log.mark()
    run.click_control(main.control(COPY))
    refusal = answer_message(run, "Return", "No Mac Volume Mounted")
    check(refusal["text"] == 'First select a drive from the "Mac Drive" box, then double-click a volume in the'
          ' "Mac Files" box.', f"refusal text {refusal['text']!r}")
    main = command_idle(run, COPY)

    main = open_drive(run, main, "Parts.img")
    check(names(main, MAC_LIST) == ["Part One", "Part Two"], f"partitioned image: {names(main, MAC_LIST)}")
    check(all("[VOLUME]" in line for line in lines(main, MAC_LIST)), "volume lines")

    main = open_alpha_root(run, main)
    check(names(main, MAC_LIST) == ["Documents", "Apple", "Banana", "Cherry"], f"root: {names(main, MAC_LIST)}")
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

    run.log.mark()
    run.click_control(main.control(MAC_UP))
    main = command_idle(run, MAC_UP)
    check(names(main, MAC_LIST) == ["Letters"], f"'..' from Letters: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Letters")
    run.log.mark()
    choose_in_combo(run, MAIN, main, MAC_FOLDER_BOX, main.control(MAC_FOLDER_BOX)["items"].index("Alpha"))
    main = command_idle(run, MAC_FOLDER_BOX, CLOSEUP)
    check(names(main, MAC_LIST)[0] == "Documents", f"path box to the root: {names(main, MAC_LIST)}")

    run.log.mark()
    menu_command(run, main, 253)  # Sort By Size: largest first, folders first
    main = command_idle(run, 253)
    check(names(main, MAC_LIST) == ["Documents", "Banana", "Cherry", "Apple"], f"by size: {names(main, MAC_LIST)}")
    check(main.menu_item(253)["checked"] == 1 and main.menu_item(250)["checked"] == 0, "Sort By check marks")
    run.log.mark()
    menu_command(run, main, 250)
    main = command_idle(run, 250)

    # Type-to-select answers no command: the no-op of choosing the sort in
    # force asks for a fresh dump.
    main = select(run, main, MAC_LIST, "Apple")
    run.keys(MAIN, "c")
    run.log.mark()
    menu_command(run, main, 250)
    main = command_idle(run, 250)
    check(main.control(MAC_LIST)["selected"] == [line_index(main, MAC_LIST, "Cherry")],
          f"typing c selects Cherry: {main.control(MAC_LIST)['selected']}")

    # The PC pane: into a directory with a double-click, back with "..".
    main = double_click(run, main, PC_LIST, "pcsrc")
    check(main["pane"] == 1 and main["pcdir"].endswith("pcsrc"), f"PC directory {main['pcdir']!r}")
    check(main.control(COPY)["text"] == "&Copy From PC", "PC names on the buttons")
    check("sub" in names(main, PC_LIST), f"pcsrc: {names(main, PC_LIST)}")
    run.log.mark()
    run.click_control(main.control(PC_UP))
    main = command_idle(run, PC_UP)
    check(not main["pcdir"].endswith("pcsrc"), "'..' leaves pcsrc")
    env["shots"].append(run.screenshot("main-window"))
    run.exit()
    # Browsing wrote nothing a checker could fault.
    env["tools"].check_volume(env["alpha"])
    env["tools"].check_volume(env["parts"], 2)


def copy_trees(run, env):
    """Mac to PC with MacBinary, PC to Mac with Text, through the preference
    dialogs, whole trees; a name collision answered each way."""
    tools, pc = env["tools"], env["pc"]
    main = open_alpha_root(run, run.start())

    # Mac -> PC: the Documents tree as MacBinary.
    main = select(run, main, MAC_LIST, "Documents")
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFMAC")
    env["shots"].append(run.screenshot("dialog-prefmac"))
    translators = prefs.control(189)["items"]
    choose_in_combo(run, prefs["title"], prefs, 189, translators.index("MacBinary"))
    if prefs.control(192)["checked"] != 1:
        click_in_dialog(run, prefs, 192)
    press_in_dialog(run, prefs, "Return")
    closed = run.dialog("PREFMAC", "close")
    check(closed["end"] == 1, "PREFMAC ends with OK")
    check(closed.control(192)["checked"] == 1, "Copy Entire Directory Tree ticked")
    check(confirm_copy(run, "Mac to PC")["text"].startswith("Files to copy:\t1\n"), "one file in the tree")
    main = command_idle(run, COPY)
    written = [os.path.relpath(os.path.join(d, f), pc) for d, _, fs in os.walk(pc) for f in fs]
    macbinary = [p for p in written if p.startswith("Documents")]
    check(len(macbinary) == 1 and "Letters" in macbinary[0], f"PC files after the copy: {written}")
    with open(os.path.join(pc, macbinary[0]), "rb") as f:
        data = f.read()
    check(data[65:73] == b"TEXTttxt", "MacBinary header type and creator")
    length = struct.unpack(">I", data[83:87])[0]
    check(data[128:128 + length] == LETTER, "MacBinary data fork holds the Mac file's bytes")
    check(os.path.basename(macbinary[0]) in names(main, PC_LIST) or "Documents" in names(main, PC_LIST),
          "the PC list shows the copy")

    # Mac -> PC collision: the same file three times as Data File; the
    # second answers OverWrite, the third a new name.
    for answer in (None, "overwrite", "rename"):
        main = select(run, main, MAC_LIST, "Apple")
        run.log.mark()
        run.click_control(main.control(COPY))
        prefs = run.dialog("PREFMAC")
        choose_in_combo(run, prefs["title"], prefs, 189, prefs.control(189)["items"].index("Data File"))
        press_in_dialog(run, prefs, "Return")
        run.dialog("PREFMAC", "close")
        confirm_copy(run, "Mac to PC")
        if answer is not None:
            collision = run.dialog("PCOLLISION")
            check(collision.control(403)["text"] == "Apple", f"PCOLLISION names {collision.control(403)['text']!r}")
            if answer == "overwrite":
                env["shots"].append(run.screenshot("dialog-pcollision"))
                click_in_dialog(run, collision, 402)
                check(run.dialog("PCOLLISION", "close")["end"] == 3, "OverWrite ends with 3")
            else:
                run.type(collision["title"], "apple2.dat")
                press_in_dialog(run, collision, "Return")
                check(run.dialog("PCOLLISION", "close")["end"] == 0, "OK ends with 0")
        main = command_idle(run, COPY)
        check(sorted(n for n in os.listdir(pc) if n.lower().startswith("apple")) ==
              {None: ["Apple"], "overwrite": ["Apple"], "rename": ["Apple", "apple2.dat"]}[answer],
              f"PC files after the copy ({answer}): {os.listdir(pc)}")
    expected = bytes((i * 7) & 255 for i in range(3000))
    for name in ("Apple", "apple2.dat"):
        with open(pc_path(pc, name), "rb") as f:
            check(f.read() == expected, f"PC file {name} holds Apple's bytes")

    # PC -> Mac: the pcsrc tree as text.
    main = select(run, main, PC_LIST, "pcsrc")
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFPC")
    env["shots"].append(run.screenshot("dialog-prefpc"))
    choose_in_combo(run, prefs["title"], prefs, 180, prefs.control(180)["items"].index("Text File"))
    if prefs.control(184)["checked"] != 1:
        click_in_dialog(run, prefs, 184)
    # No type map beside the program: the type and creator typed here apply.
    set_field(run, prefs, 182, "TEXT")
    set_field(run, prefs, 183, "ttxt")
    press_in_dialog(run, prefs, "Return")
    check(run.dialog("PREFPC", "close")["end"] == 1, "PREFPC ends with OK")
    confirm_copy(run, "PC to Mac")
    main = command_idle(run, COPY)
    check("pcsrc" in names(main, MAC_LIST), f"Mac list after the copy: {names(main, MAC_LIST)}")
    check(sorted(tools.hls(env["alpha"], ":pcsrc")) == ["note.txt", "sub"], "hls :pcsrc")
    out = os.path.join(tools.home, "note.out")
    tools.hcopy_out(env["alpha"], ":pcsrc:sub:deep.txt", out)
    with open(out, "rb") as f:
        check(f.read() == NOTE.replace(b"\r\n", b"\r"), "Text File turns CR LF into CR")
    check(tools.hattrib(env["alpha"], ":pcsrc:note.txt") == ("TEXT", "ttxt"), "the type and creator typed")

    # PC -> Mac collision: Skip leaves the Mac file alone.
    main = double_click(run, main, PC_LIST, "pcsrc")
    main = double_click(run, main, MAC_LIST, "pcsrc")
    # Clicking in a pane clears the other's selection: the PC file last.
    main = select(run, main, PC_LIST, "note.txt")
    check(main.control(MAC_LIST)["selected"] == [], "the Mac selection cleared")
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFPC")
    press_in_dialog(run, prefs, "Return")
    confirm_copy(run, "PC to Mac")
    collision = run.dialog("MCOLLISION")
    env["shots"].append(run.screenshot("dialog-mcollision"))
    click_in_dialog(run, collision, 406)
    check(run.dialog("MCOLLISION", "close")["end"] == 1, "Skip ends with 1")
    main = command_idle(run, COPY)
    check(sorted(tools.hls(env["alpha"], ":pcsrc")) == ["note.txt", "sub"], "Skip copies nothing")
    run.exit()
    tools.check_volume(env["alpha"])


def cancel_copy(run, env):
    """A long PC -> Mac copy cancelled from the progress window: the copy
    stops part way and the volume stays consistent."""
    tools = env["tools"]
    main = open_drive(run, run.start(), "Big.img")
    main = double_click(run, main, MAC_LIST, "Big")
    main = select(run, main, PC_LIST, "many")
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFPC")
    choose_in_combo(run, prefs["title"], prefs, 180, prefs.control(180)["items"].index("Data File"))
    if prefs.control(184)["checked"] != 1:
        click_in_dialog(run, prefs, 184)
    press_in_dialog(run, prefs, "Return")
    check(confirm_copy(run, "PC to Mac")["text"].startswith(f"Files to copy:\t{env['many']}\n"), "the count")
    progress = run.wait("the progress window", lambda e: e.kind == "progress" and e["event"] == "open")
    check(progress["title"] == "Copying from PC to Mac", f"progress title {progress['title']!r}")
    run.wait("a copied item", lambda e: e.kind == "progress" and e["event"] == "item")
    run.focus(progress["title"])
    env["shots"].append(run.screenshot("progress-window"))
    if progress.controls.get(2):
        run.click_control(progress.control(2))
    else:
        run.keys(progress["title"], "Escape")
    run.wait("the progress window closing", lambda e: e.kind == "progress" and e["event"] == "close", timeout=60)
    main = command_idle(run, COPY)
    run.exit()
    copied = tools.hls(env["big"], ":many")
    check(0 < len(copied) < env["many"], f"{len(copied)} of {env['many']} files copied before Cancel")
    tools.check_volume(env["big"])


def delete_both(run, env):
    """Delete on the Mac and on the PC through the warning and the count."""
    tools, pc = env["tools"], env["pc"]
    main = open_alpha_root(run, run.start())
    main = select(run, main, MAC_LIST, "Documents")
    run.log.mark()
    run.click_control(main.control(DELETE))
    warning = answer_message(run, "Escape", "WARNING")
    check(warning["text"], "a folder warning")
    main = command_idle(run, DELETE)
    check("Documents" in tools.hls(env["alpha"]), "Cancel at the warning deletes nothing")
    run.log.mark()
    run.click_control(main.control(DELETE))
    answer_message(run, "Return", "WARNING")
    counts = run.message()
    check("Files to delete:\t1" in counts["text"], f"count message {counts['text']!r}")
    run.keys_until(counts["caption"] or "Error", ["Return"], "the answer", lambda e: e.kind == "answer")
    main = command_idle(run, DELETE)
    check("Documents" not in names(main, MAC_LIST), "Documents gone from the Mac list")
    check("Documents" not in tools.hls(env["alpha"]), "hls: Documents deleted")

    main = select(run, main, PC_LIST, "loose.txt")
    run.log.mark()
    run.click_control(main.control(DELETE))
    counts = run.message()
    check("Files to delete:\t1" in counts["text"], f"PC count message {counts['text']!r}")
    run.keys_until(counts["caption"] or "Error", ["Return"], "the answer", lambda e: e.kind == "answer")
    main = command_idle(run, DELETE)
    check(not os.path.exists(pc_path(pc, "loose.txt")), "loose.txt deleted")
    check("loose.txt" not in names(main, PC_LIST), "loose.txt gone from the PC list")
    run.exit()
    tools.check_volume(env["alpha"])


def create_and_info(run, env):
    """A Mac folder, a PC directory, a Mac file renamed with a new type and
    creator, a PC file renamed."""
    tools, pc = env["tools"], env["pc"]
    main = open_alpha_root(run, run.start())
    run.log.mark()
    run.click_control(main.control(NEW))
    dialog = run.dialog("CREATEFLD")
    env["shots"].append(run.screenshot("dialog-createfld"))
    run.type(dialog["title"], "Fresh Folder")
    press_in_dialog(run, dialog, "Return")
    main = command_idle(run, NEW)
    check("Fresh Folder" in names(main, MAC_LIST), "the new folder is listed")
    check("Fresh Folder" in tools.hls(env["alpha"]), "hls: the new folder")

    main = select(run, main, MAC_LIST, "Cherry")
    run.log.mark()
    run.click_control(main.control(INFO))
    info = run.dialog("MACINFO")
    env["shots"].append(run.screenshot("dialog-macinfo"))
    check(info.control(151)["text"] == "Cherry", "MACINFO shows the name")
    for cid, text in ((151, "Cherry Pie"), (153, "TTRO"), (155, "ttxt")):
        set_field(run, info, cid, text)
    press_in_dialog(run, info, "Return")
    asked = answer_message(run, "y", "Change Mac File Info")
    check(asked["text"] == "Rename this file?\nChange file type?\nChange file creator?", "the three changes asked")
    check(run.dialog("MACINFO", "close")["end"] == 1, "MACINFO ends with OK")
    main = command_idle(run, INFO)
    check("Cherry Pie" in names(main, MAC_LIST), "renamed in the Mac list")
    check(tools.hattrib(env["alpha"], ":Cherry Pie") == ("TTRO", "ttxt"), "hls: the new type and creator")

    main = select(run, main, PC_LIST, "info.txt")
    run.log.mark()
    run.click_control(main.control(NEW))
    dialog = run.dialog("CREATEDIR")
    env["shots"].append(run.screenshot("dialog-createdir"))
    run.type(dialog["title"], "newdir")
    press_in_dialog(run, dialog, "Return")
    main = command_idle(run, NEW)
    check(os.path.isdir(pc_path(pc, "newdir")), "the PC directory exists")
    check("newdir" in names(main, PC_LIST), "the PC list shows it")

    main = select(run, main, PC_LIST, "info.txt")
    run.log.mark()
    run.click_control(main.control(INFO))
    info = run.dialog("DOSINFO")
    env["shots"].append(run.screenshot("dialog-dosinfo"))
    set_field(run, info, 141, "renamed.txt")
    press_in_dialog(run, info, "Return")
    answer_message(run, "y", "Rename PC File")
    run.dialog("DOSINFO", "close")
    main = command_idle(run, INFO)
    check(os.path.exists(pc_path(pc, "renamed.txt")) and not os.path.exists(pc_path(pc, "info.txt")),
          "the PC file renamed")

    run.log.mark()
    menu_command(run, main, 220)
    about = run.dialog("ABOUTBOX")
    env["shots"].append(run.screenshot("dialog-about"))
    press_in_dialog(run, about, "Return")
    run.dialog("ABOUTBOX", "close")
    run.exit()
    tools.check_volume(env["alpha"])


def format_image(run, env):
    """Format an image through the Format dialog and its warning."""
    tools = env["tools"]
    main = run.start()
    run.log.mark()
    menu_command(run, main, 210)
    dialog = run.dialog("Format")
    env["shots"].append(run.screenshot("dialog-format"))
    box = dialog.control(117)
    choose_in_combo(run, dialog["title"], dialog, 117, box["items"].index("[IMAGE Blank.img]"))
    set_field(run, dialog, 300, "Fresh Disk")
    press_in_dialog(run, dialog, "Return")
    check(run.dialog("Format", "close")["end"] == 3, "Format ends with the chosen drive's index")
    answer_message(run, "Return", "WARNING!")
    main = command_idle(run, 210, timeout=90)
    listing = tools.hls(env["blank"], invisible=False)
    check(listing == [], f"the formatted volume is empty: {listing}")
    check(tools.volume_name(env["blank"]) == "Fresh Disk", "the new label")
    run.exit()
    tools.check_volume(env["blank"])


def disk_image_menu(run, env):
    """Open Disk Image and New Disk Image from the File menu."""
    tools = env["tools"]
    main = run.start()
    run.log.mark()
    menu_command(run, main, 5010)
    run.focus("Open Disk Image")
    env["shots"].append(run.screenshot("dialog-open-disk-image"))
    run.type("Open Disk Image", unix_to_wine(env["third"]))
    run.keys("Open Disk Image", "Return")
    main = command_idle(run, 5010)
    check("[IMAGE Third.img]" in main.control(MAC_DRIVE_BOX)["items"], "the opened image joins the Mac Drive box")
    check("Third" in names(main, MAC_LIST), f"its volume is listed: {names(main, MAC_LIST)}")
    check("Third.img" in run.read_ini(), "PIER.INI lists the opened image")

    run.log.mark()
    menu_command(run, main, 5011)
    made = os.path.join(env["work"], "Made.img")
    run.type("New Disk Image", unix_to_wine(made))
    run.keys("New Disk Image", "Return")
    dialog = run.dialog("Format")
    check(dialog.control(117)["text"] == "[IMAGE Made.img]", "the new image chosen in the Format dialog")
    set_field(run, dialog, 300, "Made Here")
    press_in_dialog(run, dialog, "Return")
    run.dialog("Format", "close")
    answer_message(run, "Return", "WARNING!")
    main = command_idle(run, 5011, timeout=90)
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
    run.log.mark()
    menu_command(run, main, 272)
    main = command_idle(run, 272)
    check(main.menu_item(272)["checked"] == 1, "Save Prefs on Exit ticked")
    run.log.mark()
    menu_command(run, main, 254)
    main = command_idle(run, 254)
    run.log.mark()
    menu_command(run, main, 270)
    prefs = run.dialog("PREFMAC")
    choose_in_combo(run, prefs["title"], prefs, 189, prefs.control(189)["items"].index("BinHex (HQX)"))
    press_in_dialog(run, prefs, "Return")
    run.dialog("PREFMAC", "close")
    command_idle(run, 270)
    run.exit()
    ini = run.read_ini().replace(" ", "")
    for entry in ("SavePrefs=YES", "MacSort=254", "MacTrans=4"):
        check(entry in ini, f"PIER.INI lacks {entry}")

    main = run.start()
    check(main.menu_item(272)["checked"] == 1, "Save Prefs on Exit read back")
    check(main["macsort"] == 254 and main.menu_item(254)["checked"] == 1, "the Mac sort read back")
    run.log.mark()
    menu_command(run, main, 270)
    prefs = run.dialog("PREFMAC")
    check(prefs.control(189)["sel"] == 4, "the Mac translator read back")
    press_in_dialog(run, prefs, "Escape")
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


def aspi_requests(path):
    """[(request line, answer line)] from the simulated adapter's log."""
    with open(path) as f:
        log = [line.strip() for line in f if line.startswith(("exec", "done"))]
    return list(zip(log[0::2], log[1::2]))


def check_retries(path):
    """Each forced answer fell on a transfer and its retry went through:
    the same command at the same block, half the blocks after "too big"."""
    requests = aspi_requests(path)
    for n, kind in ASPI_FAULTS.items():
        (asked, answer), (again, result) = requests[n - 1], requests[n]
        fields = dict(item.split("=") for item in asked.split()[2:])
        retry = dict(item.split("=") for item in again.split()[2:])
        check(asked.split()[1] in ("28", "2a") and ASPI_STATUS[kind] in answer,
              f"request {n} ({kind}): {asked} -> {answer}")
        count = (int(fields["count"]) + 1) // 2 if kind == "toobig" else int(fields["count"])
        check(again.split()[1] == asked.split()[1] and retry["lba"] == fields["lba"] and int(retry["count"]) == count
              and "status=01" in result, f"retry of request {n} ({kind}): {again} -> {result}")


def choose_device(run, env, main, label, shot=None):
    """Chooses a device drive in the Mac Drive box by its name's start;
    with `shot`, photographs the open box first."""
    items = main.control(MAC_DRIVE_BOX)["items"]
    found = [n for n, item in enumerate(items) if item.startswith(label)]
    check(found, f"Mac Drive box lacks {label}: {items}")
    run.log.mark()
    box = main.control(MAC_DRIVE_BOX)
    run.click_open(box)
    if shot:
        env["shots"].append(run.screenshot(shot))
    moves = found[0] - box["sel"] if box["sel"] >= 0 else found[0] + 1
    run.keys(MAIN, *(["Down"] * moves if moves >= 0 else ["Up"] * -moves), "Return")
    return command_idle(run, MAC_DRIVE_BOX, CLOSEUP)


def copy_to_pc(run, main, name):
    """One Mac file to the PC as Data File."""
    main = select(run, main, MAC_LIST, name)
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFMAC")
    choose_in_combo(run, prefs["title"], prefs, 189, prefs.control(189)["items"].index("Data File"))
    press_in_dialog(run, prefs, "Return")
    run.dialog("PREFMAC", "close")
    confirm_copy(run, "Mac to PC")
    return command_idle(run, COPY)


def scsi_and_diskette(run, env):
    """The simulated adapter's disk and CD-ROM, then the mapped diskette, in
    the Mac Drive box; the diskette formatted through the Format dialog; a
    copy each way and a delete on the SCSI disk."""
    tools, pc = env["tools"], env["pc"]
    main = run.start(env=env["aspi"])
    items = main.control(MAC_DRIVE_BOX)["items"]
    check(len(items) == 4 and items[0].startswith("[WASPI-DISK 03] ") and items[1].startswith("[WASPI-CDRM 05] ")
          and items[2:] == ["[DISKETTE A]", "[IMAGE Alpha.img]"], f"Mac Drive box with the adapter: {items}")
    # The diskette drive, formatted as a user would format a real one (first:
    # the menu's keys are surest while no other window has come and gone).
    run.log.mark()
    menu_command(run, main, 210)
    dialog = run.dialog("Format")
    index = dialog.control(117)["items"].index("[DISKETTE A]")
    choose_in_combo(run, dialog["title"], dialog, 117, index)
    set_field(run, dialog, 300, "Fresh Floppy")
    press_in_dialog(run, dialog, "Return")
    check(run.dialog("Format", "close")["end"] == index, "Format ends with the diskette's index")
    answer_message(run, "Return", "WARNING!")
    main = command_idle(run, 210, timeout=90)
    main = choose_device(run, env, main, "[DISKETTE A]", "devices-drive-box-aspi")
    check(names(main, MAC_LIST) == ["Fresh Floppy"], f"the diskette's volume: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Fresh Floppy")
    check(names(main, MAC_LIST) == [], f"the new diskette is empty: {names(main, MAC_LIST)}")
    main = choose_device(run, env, main, "[WASPI-DISK 03]")
    check(names(main, MAC_LIST) == ["Part One", "Part Two"], f"the SCSI disk's volumes: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Part One")
    check(names(main, MAC_LIST) == ["Memo", "Scrap"], f"Part One: {names(main, MAC_LIST)}")

    main = copy_to_pc(run, main, "Memo")
    with open(pc_path(pc, "Memo"), "rb") as f:
        check(f.read() == MEMO, "the PC copy of Memo holds its bytes")

    main = select(run, main, PC_LIST, "loose.txt")
    run.log.mark()
    run.click_control(main.control(COPY))
    prefs = run.dialog("PREFPC")
    choose_in_combo(run, prefs["title"], prefs, 180, prefs.control(180)["items"].index("Data File"))
    press_in_dialog(run, prefs, "Return")
    run.dialog("PREFPC", "close")
    confirm_copy(run, "PC to Mac")
    main = command_idle(run, COPY)
    check("loose.txt" in names(main, MAC_LIST), f"Mac list after the copy: {names(main, MAC_LIST)}")

    main = select(run, main, MAC_LIST, "Scrap")
    run.log.mark()
    run.click_control(main.control(DELETE))
    counts = run.message()
    check("Files to delete:\t1" in counts["text"], f"count message {counts['text']!r}")
    run.keys_until(counts["caption"] or "Error", ["Return"], "the answer", lambda e: e.kind == "answer")
    main = command_idle(run, DELETE)
    check(names(main, MAC_LIST) == ["loose.txt", "Memo"], f"Part One after the delete: {names(main, MAC_LIST)}")

    run.exit()

    check_retries(env["aspi_log"])
    disk = env["scsi"]
    listing = tools.hls(disk, partition=1, invisible=False)
    check(sorted(listing) == ["Memo", "loose.txt"], f"hls Part One: {listing}")
    out = os.path.join(tools.home, "loose.out")
    tools.hcopy_out(disk, ":loose.txt", out, "-r", partition=1)
    with open(out, "rb") as f:
        check(f.read() == b"loose\r\n", "the PC file's bytes on the SCSI disk")
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
    write_ini(run, [env["alpha"]], pc, devices=("Floppy", "CDROM", "BIOS"))
    main = run.start()
    items = main.control(MAC_DRIVE_BOX)["items"]
    check(items == ["[CDROM E]", "[DISKETTE A]", "[IMAGE Alpha.img]"], f"Mac Drive box with mapped drives: {items}")
    main = choose_device(run, env, main, "[CDROM E]", "devices-drive-box-mapped")
    check(names(main, MAC_LIST) == ["Disc"], f"the CD-ROM's volume: {names(main, MAC_LIST)}")
    main = double_click(run, main, MAC_LIST, "Disc")
    check(names(main, MAC_LIST) == ["Read Me"], f"the CD-ROM's root: {names(main, MAC_LIST)}")
    main = copy_to_pc(run, main, "Read Me")
    with open(pc_path(pc, "Read Me"), "rb") as f:
        check(f.read() == DISC, "the PC copy of Read Me holds its bytes")
    main = select(run, main, MAC_LIST, "Read Me")
    run.log.mark()
    run.click_control(main.control(DELETE))
    refusal = answer_message(run, "Return")
    check(refusal["text"] == "This Mac drive is read only.", f"Delete on the CD-ROM: {refusal['text']!r}")
    command_idle(run, DELETE)
    run.exit()
    check(tools.hls(env["disc"], invisible=False) == ["Read Me"], "the disc unchanged")


def prepare_devices(run, tools):
    """A SCSI disk with an Apple partition map and a CD-ROM image served by
    the simulated adapter; a diskette image on A: and a CD-ROM image of
    2048-byte sectors on E:."""
    work = os.path.join(run.tmp, "files")
    pc = os.path.join(work, "pc")
    os.makedirs(pc)
    with open(os.path.join(pc, "loose.txt"), "wb") as f:
        f.write(b"loose\r\n")
    env = {"tools": tools, "work": work, "pc": pc, "shots": []}
    for name, label, size in (("alpha", "Alpha", 1440), ("floppy", "Old Floppy", 1440), ("disc", "Disc", 800)):
        env[name] = os.path.join(work, f"{name}.img")
        make_volume(tools, env[name], label, size)
    env["alpha"] = os.path.join(work, "Alpha.img")
    os.rename(os.path.join(work, "alpha.img"), env["alpha"])
    tools.run("hmount", env["floppy"])
    tools.run("hmkdir", ":Old Folder")
    tools.run("humount")
    env["scsi"] = os.path.join(work, "scsi.img")
    make_partitioned(tools, env["scsi"])
    for image, partition, files in ((env["scsi"], "1", (("Memo", MEMO), ("Scrap", b"scrap\r" * 300))),
                                    (env["disc"], None, (("Read Me", DISC),))):
        tools.run("hmount", image, *([partition] if partition else []))
        for name, data in files:
            source = os.path.join(work, "source")
            with open(source, "wb") as f:
                f.write(data)
            tools.run("hcopy", "-r", source, ":" + name)
        tools.run("humount")
    # The adapter's CD-ROM holds its own copy: the letter E: serves the other.
    aspi_disc = os.path.join(work, "aspi-disc.img")
    shutil.copy(env["disc"], aspi_disc)
    aspi_log = os.path.join(run.tmp, "aspi.log")
    run.side_logs.append((aspi_log, f"{run.name}-aspi.log"))
    env["aspi"] = {
        "WINEDLLOVERRIDES": WINE_ENV["WINEDLLOVERRIDES"] + ";wnaspi32=n",
        "QUAYLINK_SIM_ASPI": f"0:3:disk:512:{unix_to_wine(env['scsi'])};0:5:cdrom:2048:{unix_to_wine(aspi_disc)}",
        "QUAYLINK_SIM_ASPI_LOG": unix_to_wine(aspi_log),
        "QUAYLINK_SIM_ASPI_FAULTS": ",".join(f"{kind}@{n}" for n, kind in sorted(ASPI_FAULTS.items())),
    }
    env["aspi_log"] = aspi_log
    run.beside_program(os.path.join(run.build, "tests", "wnaspi32.dll"))
    run.map_drive("a", env["floppy"])
    run.map_drive("e", env["disc"], cdrom=True)
    write_ini(run, [env["alpha"]], pc, devices=("Floppy", "ASPI"))
    return env


# The runs: each one X server and prefix; its scenarios share the files.
RUNS = {
    "browse": [browse],
    "copy": [copy_trees, cancel_copy],
    "edit": [delete_both, create_and_info, format_image, disk_image_menu, prefs_saved],
    "devices": [scsi_and_diskette, cdrom],
}


def prepare(run, tools):
    """The images and PC files every scenario of a run starts from."""
    if run.name == "devices":
        return prepare_devices(run, tools)
    work = os.path.join(run.tmp, "files")
    pc = os.path.join(work, "pc")
    os.makedirs(os.path.join(pc, "pcsrc", "sub"))
    with open(os.path.join(pc, "pcsrc", "note.txt"), "wb") as f:
        f.write(NOTE)
    with open(os.path.join(pc, "pcsrc", "sub", "deep.txt"), "wb") as f:
        f.write(NOTE)
    for name in ("loose.txt", "info.txt"):
        with open(os.path.join(pc, name), "wb") as f:
            f.write(b"loose\r\n")
    many = 1500
    os.makedirs(os.path.join(pc, "many"))
    for n in range(many):
        with open(os.path.join(pc, "many", f"f{n:04}.dat"), "wb") as f:
            f.write(bytes([n & 255]) * 4096)
    env = {"tools": tools, "work": work, "pc": pc, "many": many, "shots": []}
    for name, label, size in (("alpha", "Alpha", 1440), ("big", "Big", 16384), ("blank", "Blank", 1440),
                              ("third", "Third", 1440), ("arg", "Arg", 1440)):
        env[name] = os.path.join(work, f"{label}.img")
        make_volume(tools, env[name], label, size)
    fill_alpha(tools, work, env["alpha"])
    tools.run("hmount", env["blank"])
    tools.run("hmkdir", ":Old Folder")
    tools.run("humount")
    env["parts"] = os.path.join(work, "Parts.img")
    make_partitioned(tools, env["parts"])
    write_ini(run, [env["alpha"], env["parts"], env["big"], env["blank"]], pc)
    return env
