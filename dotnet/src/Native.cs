// P/Invoke declarations, the C records, and the choice of native library by platform and bitness.
using System;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Vedodiroz
{
    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxDateTime
    {
        public byte Hour, Minute, Second, Year, Month, Day, Weekday;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxUserEvent
    {
        public uint Id;
        public ushort Index;
        public byte Event, Direction;
        public NaxDateTime Time;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxAuxInputEvent
    {
        public byte AuxInput, AuxValue;
        public NaxDateTime Time;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxAuxInput
    {
        public byte InvertInput, EvStatus, TimeOn, TimeOff, EvHost, EvHistoric;
        public int EvInCondition, EvReleCondition;
        public ushort ScheduleId;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 8)] public byte[] Extra;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxUser
    {
        public uint Mask, Id;
        public ushort Psw;
        public byte St;
        public ushort Ctl;
        public byte Panic, BioCount, BioLevel, SecLevel;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 256)] public byte[] Text1;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 256)] public byte[] Text2;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 22)] public byte[] Reserved;
        public ushort ScheduleId;
        public byte AntiPassback;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxMark
    {
        public uint Mask;
        public byte Kind;
        public uint Id;
        public NaxDateTime DateTime;
        public byte Event;
        public ushort Index;
        public byte Direction;
        public uint Value;
        public byte Flag;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 11)] public byte[] Code;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxSchdHeader
    {
        public ushort Id;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 22)] public byte[] Name;
        public uint Hours, Segments;
        public NaxDateTime DateTime;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxSchdSegment
    {
        public byte Hours, Minutes, Enabled;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxSchdEntry
    {
        public ushort Id;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 22)] public byte[] Name;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxTaskGroup
    {
        public ushort MaskFields;
        public byte Id;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 17)] public byte[] Name;
        public byte Items;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxTaskItem
    {
        public ushort MaskFields;
        public byte Type, Id;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 17)] public byte[] Name;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 10)] public byte[] JobOrder;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxUserEventAnswer
    {
        public NaxDateTime DateTime;
        public NaxUser User;
        public byte PrintEnable;
        // Ten texts of 45 bytes, back to back (char aux0[45] ... aux9[45]).
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 450)] public byte[] Aux;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NaxDisplayMessage
    {
        public ushort Line, Pos;
        public byte CmdLine, CmdPos;
        public ushort Font;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 50)] public byte[] Data;
    }

    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void UserCallback(IntPtr args, int linkId, uint node, ref NaxUserEvent ev);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void AuxInputCallback(IntPtr args, int linkId, uint node, ref NaxAuxInputEvent ev);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)]
    internal delegate void ConnCallback(IntPtr args, int linkId, uint state);

    internal static class Native
    {
        // "vedodiroz": vedodiroz.dll on Windows (loaded beforehand from x86\ or x64\, see
        // Load), libvedodiroz.so.1 elsewhere: through the dllmap in Vedodiroz.Net.dll.config
        // on Mono, through a resolver on .NET Core 3 and later (see Load).
        private const string Lib = "vedodiroz";
        private const CallingConvention Call = CallingConvention.Winapi;

        private static bool loaded;
        private static readonly object loadLock = new object();

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr LoadLibraryW(string path);

        /// <summary>On Windows, loads the DLL of the process's bitness from beside this
        /// assembly, so that the later P/Invoke calls bind to it; elsewhere nothing to do.</summary>
        internal static void Load()
        {
            lock (loadLock)
            {
                if (loaded) return;
                loaded = true;
                if (Path.DirectorySeparatorChar != '\\')
                {
                    SetResolver();
                    return;
                }
                string here = Path.GetDirectoryName(typeof(Native).Assembly.Location) ?? ".";
                string arch = IntPtr.Size == 8 ? "x64" : "x86";
                string dll = Path.Combine(Path.Combine(here, arch), "vedodiroz.dll");
                // Without the subfolder (a DLL beside the assembly, or on the PATH) the
                // ordinary search below applies.
                if (File.Exists(dll) && LoadLibraryW(dll) == IntPtr.Zero)
                    throw new DllNotFoundException(dll + ": error " + Marshal.GetLastWin32Error() +
                        " (a " + (IntPtr.Size * 8) + "-bit process needs the " + arch + " DLL)");
            }
        }

        private static MethodInfo tryLoad;

        // .NET Core 3 and later ignore Mono's dllmap and would look for libvedodiroz.so (the
        // development package's name); their NativeLibrary is found by reflection, since
        // .NET Standard 2.0 has none.  Not exercised by this project's tests (Mono only).
        private static void SetResolver()
        {
            Type nativeLibrary = Type.GetType("System.Runtime.InteropServices.NativeLibrary");
            if (nativeLibrary == null) return;
            Type resolver = nativeLibrary.Assembly.GetType("System.Runtime.InteropServices.DllImportResolver");
            tryLoad = nativeLibrary.GetMethod("TryLoad", new[] { typeof(string), typeof(IntPtr).MakeByRefType() });
            MethodInfo set = nativeLibrary.GetMethod("SetDllImportResolver");
            if (resolver == null || tryLoad == null || set == null) return;
            var resolve = typeof(Native).GetMethod("Resolve", BindingFlags.NonPublic | BindingFlags.Static);
            set.Invoke(null, new object[] { typeof(Native).Assembly, Delegate.CreateDelegate(resolver, resolve) });
        }

        // IntPtr.Zero lets the runtime's own search go on.
        private static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            if (name != Lib) return IntPtr.Zero;
            var args = new object[] { "libvedodiroz.so.1", IntPtr.Zero };
            return (bool)tryLoad.Invoke(null, args) ? (IntPtr)args[1] : IntPtr.Zero;
        }

        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_init(byte[] logPath, int logLevel);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_uninit();
        [DllImport(Lib, CallingConvention = Call)] internal static extern IntPtr nax_lib_version(byte[] buffer);
        [DllImport(Lib, CallingConvention = Call)] internal static extern IntPtr nax_status_text(uint status);
        [DllImport(Lib, CallingConvention = Call)] internal static extern IntPtr nax_node_status_text(byte[] function, uint status);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_keepalive(int timeout, int retries, ushort destNode);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_listen_limits(int maxUnclaimed, int claimTimeout);
        [DllImport(Lib, CallingConvention = Call)]
        internal static extern uint nax_open(out uint status, ushort sourceNode, byte protocol, byte[] conn, uint timeout,
            IntPtr args, UserCallback user, AuxInputCallback aux, ConnCallback conn2);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_close(int linkId);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_listen(out uint status, ushort port, int timeout, IntPtr args, ConnCallback conn);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_close_listen(int listenId);
        [DllImport(Lib, CallingConvention = Call)]
        internal static extern uint nax_accept(ref uint linkId, ref ushort destNode, ref ushort port, byte protocol, ushort sourceNode,
            uint acceptTimeout, int rcvTimeout);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_source_node(int linkId, ushort node);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_packet_protocol(int linkId, byte protocol);
        [DllImport(Lib, CallingConvention = Call)] internal static extern byte nax_get_packet_protocol(int linkId);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_user_callback(int linkId, UserCallback cb);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_aux_input_callback(int linkId, AuxInputCallback cb);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_conn_callback(int linkId, ConnCallback cb);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_callback_args(int linkId, IntPtr args);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_rcv_timeout(int linkId, int ms);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_snd_timeout(int linkId, int ms);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_interbyte_timeout(int linkId, int ms);

        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_time(int l, ushort node, out NaxDateTime t);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_time(int l, ushort node, ref NaxDateTime t);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_num_cfg(int l, ushort node, uint size, ushort id, out uint value);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_num_cfg(int l, ushort node, uint size, ushort id, int value);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_aux_input(int l, ushort node, ushort id, ref NaxAuxInput aux);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_aux_input(int l, ushort node, ushort id, ref NaxAuxInput aux);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_state_aux_input(int l, ushort node, out uint state);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_rele_control(int l, ushort node, uint releId, byte timeMode);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_answer_aux_input_event(int l, ushort node, byte code);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_list_users(int l, ushort node, uint first, ushort count, [In, Out] NaxUser[] users, out ushort stored);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_add_user(int l, ushort node, uint first, uint count, [In, Out] NaxUser[] users, out ushort taken);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_edit_user(int l, ushort node, uint first, ushort count, [In, Out] NaxUser[] users, out ushort taken);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_del_user(int l, ushort node, uint first, ushort count, [In, Out] NaxUser[] users, out ushort taken);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_add_user_in1(int l, ushort node, ref NaxUser user, uint unused, byte[] extra, uint extraCount);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_list_marks(int l, ushort node, uint first, ushort count, [In, Out] NaxMark[] marks, out ushort stored);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_info(int l, ushort node, byte[] query, [Out] byte[] answer);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_reset_node(int l, ushort node, int deviceId, int subId);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_block_node(int l, ushort node, byte value);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_flush_table(int l, ushort node, byte table);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_del_records(int l, ushort node, uint table, ushort count, out ushort deleted);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_schd_header(int l, ushort node, ushort id, ref NaxSchdHeader h);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_schd_header(int l, ushort node, ref NaxSchdHeader h);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_get_schd_segments(int l, ushort node, ushort id, [Out] NaxSchdSegment[] s, uint first, uint count, out uint received);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_set_schd_segments(int l, ushort node, ushort id, NaxSchdSegment[] s, uint first, uint count, out uint countOut);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_del_schd(int l, ushort node, ushort id);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_list_schd(int l, ushort node, [In, Out] NaxSchdEntry[] e, ref ushort startId, uint capacity, out uint received);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_read_template(int l, ushort node, ushort sensor, uint access, uint template, [Out] byte[] buffer, uint capacity);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_write_template(int l, ushort node, ushort sensor, uint access, uint template, byte[] data, uint length);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_del_template(int l, ushort node, ushort sensor, uint access, uint template);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_flush_templates(int l, ushort node, ushort sensor);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_add_task_group(int l, ushort node, ref NaxTaskGroup g);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_add_task_item(int l, ushort node, uint groupId, ref NaxTaskItem i);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_fopen(int l, ushort node, byte[] name, uint flags, out uint size);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_fread(int l, ushort node, [Out] byte[] buffer, uint len, out uint read);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_fwrite(int l, ushort node, byte[] data, uint len);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_fclose(int l, ushort node, out uint crc32);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_fdel(int l, ushort node, byte[] name);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_answer_user_event(int l, ushort node, ref NaxUserEventAnswer a);
        [DllImport(Lib, CallingConvention = Call)] internal static extern uint nax_display_msg(int l, ushort node, ushort count, [In, Out] NaxDisplayMessage[] m, int timer, out ushort answer);
    }
}
