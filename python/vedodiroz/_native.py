"""Loading of the shared library, the record layouts and the function prototypes.

Everything that must agree with include/vedodiroz.h lives in this module: the
record layout table (RECORDS), the status table (STATUSES) and the prototype
table (FUNCTIONS).  The test suite compares the first two against the header.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path

# fmt: off
# Record layouts: (record, ((field, type), ...)).  Types are u8, u16, u32, i32,
# char[N], u8[N] or another record's name.  Natural alignment, as in C.
RECORDS = (
    ("nax_date_time", (
        ("hour", "u8"), ("minute", "u8"), ("second", "u8"), ("year", "u8"),
        ("month", "u8"), ("day", "u8"), ("weekday", "u8"))),
    ("nax_user_event", (
        ("id", "u32"), ("index", "u16"), ("event", "u8"), ("direction", "u8"),
        ("time", "nax_date_time"))),
    ("nax_aux_input_event", (
        ("aux_input", "u8"), ("aux_value", "u8"), ("time", "nax_date_time"))),
    ("nax_aux_input", (
        ("invert_input", "u8"), ("ev_status", "u8"), ("time_on", "u8"), ("time_off", "u8"),
        ("ev_host", "u8"), ("ev_historic", "u8"), ("ev_in_condition", "i32"),
        ("ev_rele_condition", "i32"), ("schedule_id", "u16"), ("extra", "u8[8]"))),
    ("nax_user", (
        ("mask", "u32"), ("id", "u32"), ("psw", "u16"), ("st", "u8"), ("ctl", "u16"),
        ("panic", "u8"), ("bio_count", "u8"), ("bio_level", "u8"), ("sec_level", "u8"),
        ("text1", "char[256]"), ("text2", "char[256]"), ("reserved", "u8[22]"),
        ("schedule_id", "u16"), ("anti_passback", "u8"))),
    ("nax_mark", (
        ("mask", "u32"), ("kind", "u8"), ("id", "u32"), ("date_time", "nax_date_time"),
        ("event", "u8"), ("index", "u16"), ("direction", "u8"), ("value", "u32"),
        ("flag", "u8"), ("code", "char[11]"))),
    ("nax_schd_header", (
        ("id", "u16"), ("name", "char[22]"), ("hours", "u32"), ("segments", "u32"),
        ("date_time", "nax_date_time"))),
    ("nax_schd_segment", (("hours", "u8"), ("minutes", "u8"), ("enabled", "u8"))),
    ("nax_schd_entry", (("id", "u16"), ("name", "char[22]"))),
    ("nax_task_group", (
        ("mask_fields", "u16"), ("id", "u8"), ("name", "char[17]"), ("items", "u8"))),
    ("nax_task_item", (
        ("mask_fields", "u16"), ("type", "u8"), ("id", "u8"), ("name", "char[17]"),
        ("job_order", "char[10]"))),
    ("nax_user_event_answer", (
        ("date_time", "nax_date_time"), ("user", "nax_user"), ("print_enable", "u8"),
        ("aux0", "char[45]"), ("aux1", "char[45]"), ("aux2", "char[45]"), ("aux3", "char[45]"),
        ("aux4", "char[45]"), ("aux5", "char[45]"), ("aux6", "char[45]"), ("aux7", "char[45]"),
        ("aux8", "char[45]"), ("aux9", "char[45]"))),
    ("nax_display_message", (
        ("line", "u16"), ("pos", "u16"), ("cmd_line", "u8"), ("cmd_pos", "u8"),
        ("font", "u16"), ("data", "char[50]"))),
)

# Status numbers of the library: (name, code).
STATUSES = (
    ("OK", 1), ("ERR_NO_MEMORY", 1000), ("ERR_BAD_CONN_STRING", 1001),
    ("ERR_SERIAL_OPEN", 1002), ("ERR_BAD_BAUD_RATE", 1004), ("ERR_SERIAL_CONFIG", 1005),
    ("ERR_SERIAL_NOT_OPEN", 1006), ("ERR_THREAD_START", 1007), ("ERR_HOST_NOT_FOUND", 1008),
    ("ERR_BAD_ADDRESS", 1009), ("ERR_SOCKET", 1010), ("ERR_CONNECT", 1011),
    ("ERR_SOCKET_ERROR_READ", 1012), ("ERR_CONN_REFUSED", 1013), ("ERR_CONNECT_TIMEOUT", 1014),
    ("ERR_SYNC_CREATE", 1015), ("ERR_MUTEX_WAIT", 1016), ("ERR_MUTEX_RELEASE", 1017),
    ("ERR_SERIAL_WRITE_EVENT", 1018), ("ERR_SERIAL_WRITE_SHORT", 1019), ("ERR_IO", 1020),
    ("ERR_TIMEOUT", 1021), ("ERR_SERIAL_READ_EVENT", 1022), ("ERR_SERIAL_READ_EMPTY", 1023),
    ("ERR_OTHER_NODE", 1024), ("ERR_EVENT_SET", 1025), ("ERR_NO_ANSWER", 1026),
    ("ERR_ANSWER_WAIT", 1027), ("ERR_OTHER_COMMAND", 1028), ("ERR_SHORT_ANSWER", 1029),
    ("ERR_SOCKET_NOT_OPEN", 1030), ("ERR_ALREADY_INIT", 1031), ("ERR_SOCKET_LAYER", 1032),
    ("ERR_NOT_INIT", 1034), ("ERR_BAD_PROTOCOL", 1035), ("ERR_LINK_UNAVAILABLE", 1036),
    ("ERR_INVALID_ARG", 1037), ("ERR_WRONG_PROTOCOL", 1038), ("ERR_ECHO_MISMATCH", 1039),
    ("ERR_THREAD_WAIT", 1040), ("ERR_LISTEN_THREAD", 1041), ("ERR_BIND", 1042),
    ("ERR_NO_CONN_CALLBACK", 1043), ("ERR_LISTEN_EVENT", 1044), ("ERR_ACCEPT_FAILED", 1045),
    ("ERR_LISTEN_WAIT", 1046), ("ERR_NO_REGISTRY", 1047), ("ERR_REGISTRY_EXISTS", 1048),
    ("ERR_SLOT_IN_USE", 1049), ("ERR_LINK_HELD", 1050), ("ERR_LINK_BUSY", 1051),
    ("ERR_LISTENER_EXISTS", 1053), ("ERR_NO_LISTENER", 1055), ("ERR_LINK_STATE", 1056),
    ("ERR_NODE_NUMBER", 1057), ("ERR_OTHER_PORT", 1058), ("ERR_NO_SUCH_LINK", 1059),
    ("ERR_PORT_IN_USE", 1060), ("ERR_CONN_CLOSED", 1061), ("ERR_CONNECT_WAIT", 1062),
    ("ERR_NODE_LOST", 1063), ("ERR_OWN_THREAD", 1065),
)
# fmt: on

_SCALARS = {
    "u8": ctypes.c_uint8,
    "u16": ctypes.c_uint16,
    "u32": ctypes.c_uint32,
    "i32": ctypes.c_int32,
    "char": ctypes.c_char,
}


def _ctype(spelled: str, known: dict) -> type:
    if "[" in spelled:
        base, count = spelled[:-1].split("[")
        return _ctype(base, known) * int(count)
    if spelled in _SCALARS:
        return _SCALARS[spelled]
    return known[spelled]


def _make_structs() -> dict:
    known: dict = {}
    for name, fields in RECORDS:
        known[name] = type(
            name, (ctypes.Structure,), {"_fields_": [(f, _ctype(t, known)) for f, t in fields]}
        )
    return known


STRUCTS = _make_structs()
DateTime = STRUCTS["nax_date_time"]
CUserEvent = STRUCTS["nax_user_event"]
CAuxInputEvent = STRUCTS["nax_aux_input_event"]
CAuxInput = STRUCTS["nax_aux_input"]
CUser = STRUCTS["nax_user"]
CMark = STRUCTS["nax_mark"]
CSchdHeader = STRUCTS["nax_schd_header"]
CSchdSegment = STRUCTS["nax_schd_segment"]
CSchdEntry = STRUCTS["nax_schd_entry"]
CTaskGroup = STRUCTS["nax_task_group"]
CTaskItem = STRUCTS["nax_task_item"]
CUserEventAnswer = STRUCTS["nax_user_event_answer"]
CDisplayMessage = STRUCTS["nax_display_message"]

# Every exported function and every callback uses stdcall on 32-bit Windows.
_STDCALL = os.name == "nt" and ctypes.sizeof(ctypes.c_void_p) == 4
CALLBACK_TYPE = ctypes.WINFUNCTYPE if _STDCALL else ctypes.CFUNCTYPE  # type: ignore[attr-defined]

USER_CALLBACK = CALLBACK_TYPE(
    None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint32, ctypes.POINTER(CUserEvent)
)
AUX_INPUT_CALLBACK = CALLBACK_TYPE(
    None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint32, ctypes.POINTER(CAuxInputEvent)
)
CONN_CALLBACK = CALLBACK_TYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint32)

_u8, _u16, _u32, _i32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32
_vp, _cp = ctypes.c_void_p, ctypes.c_char_p
P = ctypes.POINTER

# fmt: off
FUNCTIONS = {
    "nax_init": (_u32, (_cp, _i32)),
    "nax_uninit": (_u32, ()),
    "nax_lib_version": (_vp, (_vp,)),
    "nax_status_text": (_cp, (_u32,)),
    "nax_node_status_text": (_cp, (_cp, _u32)),
    "nax_open": (_u32, (P(_u32), _u16, _u8, _cp, _u32, _vp, USER_CALLBACK, AUX_INPUT_CALLBACK,
                        CONN_CALLBACK)),
    "nax_close": (_u32, (_i32,)),
    "nax_listen": (_u32, (P(_u32), _u16, _i32, _vp, CONN_CALLBACK)),
    "nax_close_listen": (_u32, (_i32,)),
    "nax_accept": (_u32, (P(_u32), P(_u16), P(_u16), _u8, _u16, _u32, _i32)),
    "nax_set_source_node": (_u32, (_i32, _u16)),
    "nax_set_packet_protocol": (_u32, (_i32, _u8)),
    "nax_get_packet_protocol": (_u8, (_i32,)),
    "nax_set_user_callback": (_u32, (_i32, USER_CALLBACK)),
    "nax_set_aux_input_callback": (_u32, (_i32, AUX_INPUT_CALLBACK)),
    "nax_set_conn_callback": (_u32, (_i32, CONN_CALLBACK)),
    "nax_set_callback_args": (_u32, (_i32, _vp)),
    "nax_set_rcv_timeout": (_u32, (_i32, _i32)),
    "nax_set_snd_timeout": (_u32, (_i32, _i32)),
    "nax_set_interbyte_timeout": (_u32, (_i32, _i32)),
    "nax_set_keepalive": (_u32, (_i32, _i32, _u16)),
    "nax_set_listen_limits": (_u32, (_i32, _i32)),
    "nax_get_time": (_u32, (_i32, _u16, P(DateTime))),
    "nax_set_time": (_u32, (_i32, _u16, P(DateTime))),
    "nax_get_num_cfg": (_u32, (_i32, _u16, _u32, _u16, P(_u32))),
    "nax_set_num_cfg": (_u32, (_i32, _u16, _u32, _u16, _i32)),
    "nax_get_aux_input": (_u32, (_i32, _u16, _u16, P(CAuxInput))),
    "nax_set_aux_input": (_u32, (_i32, _u16, _u16, P(CAuxInput))),
    "nax_state_aux_input": (_u32, (_i32, _u16, P(_u32))),
    "nax_rele_control": (_u32, (_i32, _u16, _u32, _u8)),
    "nax_answer_aux_input_event": (_u32, (_i32, _u16, _u8)),
    "nax_list_users": (_u32, (_i32, _u16, _u32, _u16, P(CUser), P(_u16))),
    "nax_add_user": (_u32, (_i32, _u16, _u32, _u32, P(CUser), P(_u16))),
    "nax_edit_user": (_u32, (_i32, _u16, _u32, _u16, P(CUser), P(_u16))),
    "nax_del_user": (_u32, (_i32, _u16, _u32, _u16, P(CUser), P(_u16))),
    "nax_add_user_in1": (_u32, (_i32, _u16, P(CUser), _u32, _vp, _u32)),
    "nax_list_marks": (_u32, (_i32, _u16, _u32, _u16, P(CMark), P(_u16))),
    "nax_get_info": (_u32, (_i32, _u16, _cp, _vp)),
    "nax_reset_node": (_u32, (_i32, _u16, _i32, _i32)),
    "nax_block_node": (_u32, (_i32, _u16, _u8)),
    "nax_flush_table": (_u32, (_i32, _u16, _u8)),
    "nax_del_records": (_u32, (_i32, _u16, _u32, _u16, P(_u16))),
    "nax_get_schd_header": (_u32, (_i32, _u16, _u16, P(CSchdHeader))),
    "nax_set_schd_header": (_u32, (_i32, _u16, P(CSchdHeader))),
    "nax_get_schd_segments": (_u32, (_i32, _u16, _u16, P(CSchdSegment), _u32, _u32, P(_u32))),
    "nax_set_schd_segments": (_u32, (_i32, _u16, _u16, P(CSchdSegment), _u32, _u32, P(_u32))),
    "nax_del_schd": (_u32, (_i32, _u16, _u16)),
    "nax_list_schd": (_u32, (_i32, _u16, P(CSchdEntry), P(_u16), _u32, P(_u32))),
    "nax_read_template": (_u32, (_i32, _u16, _u16, _u32, _u32, _vp, _u32)),
    "nax_write_template": (_u32, (_i32, _u16, _u16, _u32, _u32, _vp, _u32)),
    "nax_del_template": (_u32, (_i32, _u16, _u16, _u32, _u32)),
    "nax_flush_templates": (_u32, (_i32, _u16, _u16)),
    "nax_add_task_group": (_u32, (_i32, _u16, P(CTaskGroup))),
    "nax_add_task_item": (_u32, (_i32, _u16, _u32, P(CTaskItem))),
    "nax_fopen": (_u32, (_i32, _u16, _cp, _u32, P(_u32))),
    "nax_fread": (_u32, (_i32, _u16, _vp, _u32, P(_u32))),
    "nax_fwrite": (_u32, (_i32, _u16, _vp, _u32)),
    "nax_fclose": (_u32, (_i32, _u16, P(_u32))),
    "nax_fdel": (_u32, (_i32, _u16, _cp)),
    "nax_answer_user_event": (_u32, (_i32, _u16, P(CUserEventAnswer))),
    "nax_display_msg": (_u32, (_i32, _u16, _u16, P(CDisplayMessage), _i32, P(_u16))),
}
# fmt: on

_SIGNED = (ctypes.c_int8, ctypes.c_int16, ctypes.c_int32, ctypes.c_int64)


def check_range(ctype, value, what: str) -> None:
    """Raises ValueError when an integer does not fit ctype (ctypes would silently keep
    its low bits)."""
    if not isinstance(value, int) or not isinstance(ctype, type):
        return
    if not issubclass(ctype, ctypes._SimpleCData) or ctype in (ctypes.c_char_p, ctypes.c_void_p):
        return
    bits = 8 * ctypes.sizeof(ctype)
    if ctype in _SIGNED:
        low, high = -(1 << (bits - 1)), (1 << (bits - 1)) - 1
    else:
        low, high = 0, (1 << bits) - 1
    if not low <= value <= high:
        raise ValueError(f"{what} = {value} is outside {low}..{high}")


_PACKAGE_DIR = Path(__file__).resolve().parent
_LIB_NAME = "vedodiroz.dll" if os.name == "nt" else "libvedodiroz.so"


def _candidates():
    """Where the library is looked for, in order: (path, how it was found)."""
    explicit = os.environ.get("VEDODIROZ_LIBRARY")
    if explicit:
        yield explicit, "VEDODIROZ_LIBRARY"
        return
    yield str(_PACKAGE_DIR / "_lib" / _LIB_NAME), "bundled"
    # A source checkout: the package sits in python/ beside the CMake build folders.
    repo = _PACKAGE_DIR.parent.parent
    if (repo / "include" / "vedodiroz.h").is_file():
        # Plain builds only: a sanitizer build cannot be loaded into Python.
        for folder in ("build-python", "build-check-plain", "build"):
            yield str(repo / folder / "src" / _LIB_NAME), "source tree"
    found = ctypes.util.find_library("vedodiroz")
    if found:
        yield found, "system"


def _load():
    tried = []
    for path, how in _candidates():
        if how != "system" and not os.path.exists(path):
            tried.append(path)
            continue
        loader = ctypes.WinDLL if _STDCALL else ctypes.CDLL  # type: ignore[attr-defined]
        lib = loader(path)
        _declare(lib)
        return lib, path, how
    raise OSError(
        "libvedodiroz not found (set VEDODIROZ_LIBRARY to its path); looked at: "
        + ", ".join(tried)
    )


def _declare(lib) -> None:
    for name, (restype, argtypes) in FUNCTIONS.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = list(argtypes)


lib, library_path, library_origin = _load()
if sys.platform != "win32" and library_origin == "system":
    library_path = getattr(lib, "_name", library_path)
