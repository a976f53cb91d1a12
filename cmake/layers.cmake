# The layers of src/, lowest first. Each may include and link only itself
# and the layers before it. The front-ends sit on top of all of them and
# never on each other.
set(QUAYLINK_LAYERS platform core disk hfs translate transfer ui)
set(QUAYLINK_FRONT_ENDS win32 cli)
