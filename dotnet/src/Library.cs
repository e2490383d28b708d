// The library's lifetime, links opened or accepted, the listener, and the routing of callbacks.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;

namespace Vedodiroz
{
    /// <summary>The library from <c>nax_init</c> to <c>nax_uninit</c>: one per process at a time.
    /// Disposing it closes every link and the listener still open.</summary>
    public sealed class Library : IDisposable
    {
        private readonly List<WeakReference> links = new List<WeakReference>();
        private Listener listener;
        private bool disposed;

        /// <summary>Starts the library.  logPath null logs to "zavidu.log" in the current
        /// directory; logLevel 0 writes no log, 1 to 4 ever more.</summary>
        public Library(string logPath = null, int logLevel = 0)
        {
            Native.Load();
            byte[] path = logPath == null ? null : Codec.Encode(logPath, 0, "logPath");
            NaxException.Check(Native.nax_init(path, logLevel), "nax_init");
        }

        /// <summary>The library's version, such as "1.1.13".</summary>
        public static string Version
        {
            get
            {
                Native.Load();
                var buffer = new byte[16];
                Native.nax_lib_version(buffer);
                return Codec.Decode(buffer);
            }
        }

        /// <summary>Keepalive of every link (ms, misses, node addressed); 0 disables.
        /// Call before creating the Library.</summary>
        public static void SetKeepalive(int timeoutMs, int retries, ushort destNode)
        {
            Native.Load();
            NaxException.Check(Native.nax_set_keepalive(timeoutMs, retries, destNode), "nax_set_keepalive");
        }

        /// <summary>Bounds the nodes that connect in and are not accepted; 0 lifts a bound.</summary>
        public static void SetListenLimits(int maxUnclaimed, int claimTimeoutMs)
        {
            Native.Load();
            NaxException.Check(Native.nax_set_listen_limits(maxUnclaimed, claimTimeoutMs), "nax_set_listen_limits");
        }

        /// <summary>Opens a link: conn is "host:port", "host port" or "/dev/ttyX:baud" ("COM3:9600").</summary>
        public Link Open(string conn, byte protocol = 2, ushort sourceNode = 0x100, uint timeoutMs = 3000)
        {
            Alive();
            var link = new Link(this);
            uint status;
            uint id = Native.nax_open(out status, sourceNode, protocol, Codec.Encode(conn, 0, "conn"), timeoutMs,
                link.Token, null, null, Callbacks.Conn);
            if (id == 0)
            {
                Callbacks.Unregister(link.Token);
                throw NaxException.Of(status != 0 ? status : 1037u, "nax_open");
            }
            link.Opened((int)id);
            Track(link);
            return link;
        }

        /// <summary>Listens on a TCP port for nodes that connect in; <paramref name="incoming"/>
        /// is subscribed before the first node can arrive.</summary>
        public Listener Listen(ushort port, int timeoutMs = 1000, EventHandler<IncomingEventArgs> incoming = null)
        {
            Alive();
            var l = new Listener(this, port);
            if (incoming != null) l.Incoming += incoming;
            uint status;
            uint id = Native.nax_listen(out status, port, timeoutMs, l.Token, Callbacks.Conn);
            if (id == 0)
            {
                Callbacks.Unregister(l.Token);
                throw NaxException.Of(status != 0 ? status : 1037u, "nax_listen");
            }
            l.Id = (int)id;
            listener = l;
            return l;
        }

        /// <summary>Claims a node that connected in: the link linkId (0: whichever waits first,
        /// looking for acceptTimeoutMs).  node 0 takes the number the node reports.</summary>
        public Link Accept(uint linkId = 0, byte protocol = 2, ushort sourceNode = 0x100, ushort node = 0, ushort port = 0,
            uint acceptTimeoutMs = 3000, int rcvTimeoutMs = 3000)
        {
            Alive();
            uint lid = linkId;
            ushort dest = node, p = port;
            NaxException.Check(Native.nax_accept(ref lid, ref dest, ref p, protocol, sourceNode, acceptTimeoutMs, rcvTimeoutMs),
                "nax_accept");
            var link = new Link(this) { Node = dest, Port = p };
            link.Opened((int)lid);
            // Its reception thread started with the listener's callback argument.
            NaxException.Check(Native.nax_set_callback_args(link.Id, link.Token), "nax_set_callback_args");
            NaxException.Check(Native.nax_set_conn_callback(link.Id, Callbacks.Conn), "nax_set_conn_callback");
            Track(link);
            return link;
        }

        private void Track(Link link)
        {
            lock (links)
            {
                links.RemoveAll(w => !w.IsAlive);
                links.Add(new WeakReference(link));
            }
        }

        internal void Forget(Listener l)
        {
            if (listener == l) listener = null;
        }

        private void Alive()
        {
            if (disposed) throw new ObjectDisposedException("Library");
        }

        /// <summary>Closes the links and the listener still open, then stops the library.</summary>
        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            List<WeakReference> all;
            lock (links) all = new List<WeakReference>(links);
            // Every link is closed even when one fails; the library stops only when all are.
            NaxException failed = null;
            foreach (var w in all)
            {
                var link = w.Target as Link;
                try
                {
                    if (link != null) link.Dispose();
                }
                catch (NaxException e)
                {
                    failed = failed ?? e;
                }
            }
            if (listener != null) listener.Dispose();
            if (failed != null) throw failed;
            NaxException.Check(Native.nax_uninit(), "nax_uninit");
        }
    }

    /// <summary>The library's listener.  <see cref="Incoming"/> runs on the listen thread.</summary>
    public sealed class Listener : IDisposable
    {
        private readonly Library library;
        internal readonly IntPtr Token;
        public ushort Port { get; }
        public int Id { get; internal set; }

        /// <summary>A node connected; accept it (on another thread than this handler's,
        /// since accepting waits for the node) with <see cref="Accept"/>.</summary>
        public event EventHandler<IncomingEventArgs> Incoming;

        internal Listener(Library library, ushort port)
        {
            this.library = library;
            Port = port;
            Token = Callbacks.Register(this);
        }

        internal void OnConn(int linkId, uint state)
        {
            var handler = Incoming;
            if (state == 1 && handler != null) handler(this, new IncomingEventArgs { LinkId = (uint)linkId });
        }

        public Link Accept(uint linkId = 0, byte protocol = 2, ushort sourceNode = 0x100, ushort node = 0,
            uint acceptTimeoutMs = 3000, int rcvTimeoutMs = 3000)
        {
            return library.Accept(linkId, protocol, sourceNode, node, Port, acceptTimeoutMs, rcvTimeoutMs);
        }

        /// <summary>Stops listening; links already accepted stay open.</summary>
        public void Dispose()
        {
            if (Id == 0) return;
            if (Callbacks.Current == (object)this) throw new InvalidOperationException("a listener cannot be closed from its own handler");
            uint status = Native.nax_close_listen(Id);
            Id = 0;
            Callbacks.Unregister(Token);
            library.Forget(this);
            NaxException.Check(status, "nax_close_listen");
        }
    }

    /// <summary>One native callback of each kind for the whole process, held in static fields
    /// so that the garbage collector never frees what the library may still call.  The
    /// callback argument is a number that names its Link or Listener, held weakly, so a
    /// forgotten link can still be finalised (and closed).</summary>
    internal static class Callbacks
    {
        internal static readonly UserCallback User = OnUser;
        internal static readonly AuxInputCallback AuxInput = OnAuxInput;
        internal static readonly ConnCallback Conn = OnConn;

        // Per token: the target, and for a link its handle, held until its finaliser has run,
        // so that a loss reported after the Link was collected still keeps the finaliser from
        // closing the id (which the library frees on a loss and may give to a new link).
        private sealed class Entry
        {
            internal WeakReference Target, Handle;
        }

        private static readonly Dictionary<long, Entry> targets = new Dictionary<long, Entry>();
        private static long next;
        private static int pruneAt = 64;
        [ThreadStatic] private static object current;

        /// <summary>The Link or Listener whose handler this thread is running, if any.</summary>
        internal static object Current { get { return current; } }

        internal static IntPtr Register(object target, SafeHandle handle = null)
        {
            lock (targets)
            {
                long token = ++next;
                targets[token] = new Entry
                {
                    Target = new WeakReference(target), Handle = handle == null ? null : new WeakReference(handle, true),
                };
                if (targets.Count >= pruneAt) // links finalised without Dispose leave their entry
                {
                    foreach (long dead in targets.Where(t => !t.Value.Target.IsAlive && (t.Value.Handle == null || !t.Value.Handle.IsAlive)).Select(t => t.Key).ToList()) targets.Remove(dead);
                    pruneAt = 2 * targets.Count + 64;
                }
                return new IntPtr(token);
            }
        }

        internal static void Unregister(IntPtr token)
        {
            lock (targets) targets.Remove(token.ToInt64());
        }

        private static object Find(IntPtr token)
        {
            lock (targets)
            {
                Entry e;
                return targets.TryGetValue(token.ToInt64(), out e) ? e.Target.Target : null;
            }
        }

        /// <summary>Runs a host handler on a library thread: what it throws is traced, never
        /// passed back into native code.</summary>
        private static void Run(object target, Action action, string what)
        {
            object outer = current;
            current = target;
            try
            {
                action();
            }
            catch (Exception e)
            {
                Trace.TraceError("vedodiroz: " + what + " handler threw: " + e);
            }
            finally
            {
                current = outer;
            }
        }

        private static void OnUser(IntPtr args, int linkId, uint node, ref NaxUserEvent ev)
        {
            var link = Find(args) as Link;
            if (link == null) return;
            var e = new UserEventArgs
            {
                LinkId = linkId, Node = (ushort)node, Id = ev.Id, Index = ev.Index, Event = ev.Event,
                Direction = (Direction)ev.Direction, Time = Codec.FromNative(ev.Time),
            };
            Run(link, () => link.RaiseUser(e), "user event");
        }

        private static void OnAuxInput(IntPtr args, int linkId, uint node, ref NaxAuxInputEvent ev)
        {
            var link = Find(args) as Link;
            if (link == null) return;
            var e = new AuxInputEventArgs
            {
                LinkId = linkId, Node = (ushort)node, Input = ev.AuxInput, Value = ev.AuxValue, Time = Codec.FromNative(ev.Time),
            };
            Run(link, () => link.RaiseAuxInput(e), "aux input event");
        }

        private static void OnConn(IntPtr args, int linkId, uint state)
        {
            if (state != 1)
            {
                Entry e;
                lock (targets) targets.TryGetValue(args.ToInt64(), out e);
                var handle = e != null && e.Handle != null ? e.Handle.Target as SafeHandle : null;
                if (handle != null) handle.SetHandleAsInvalid();
            }
            object target = Find(args);
            var link = target as Link;
            var listener = target as Listener;
            if (link != null) Run(link, () => link.OnConn(state), "lost");
            else if (listener != null) Run(listener, () => listener.OnConn(linkId, state), "incoming");
        }
    }

    /// <summary>Owns a link id: closes it when disposed or, if the host forgot to, when finalised.</summary>
    internal sealed class LinkHandle : SafeHandle
    {
        internal uint CloseStatus = 1;

        internal LinkHandle() : base(IntPtr.Zero, true) { }

        internal void Set(int linkId)
        {
            SetHandle(new IntPtr(linkId));
        }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        protected override bool ReleaseHandle()
        {
            CloseStatus = Native.nax_close(handle.ToInt32());
            return true;
        }
    }
}
