// A link to nodes: one method per node command, paged lists, files as streams, and events.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;

namespace Vedodiroz
{
    /// <summary>An open link to one or more nodes.  Commands take the node number first;
    /// calls on one link are carried out one at a time, from any thread.</summary>
    public sealed class Link : IDisposable
    {
        /// <summary>Bytes of one biometric template.</summary>
        public const int TemplateSize = 384;
        /// <summary>Most data bytes a node moves in one packet.</summary>
        public const int FileChunk = 512;

        private readonly LinkHandle handle = new LinkHandle();
        private readonly object gate = new object();
        private EventHandler<UserEventArgs> userEvent;
        private EventHandler<AuxInputEventArgs> auxInput;
        private bool lost;
        // Set before nax_close: an answer sent from a handler then would wait for the link
        // that the close holds (three pauses of the link's time-out) while the close waits
        // for that handler's thread.
        private volatile bool closing;
        internal readonly IntPtr Token;

        public int Id { get; private set; }
        /// <summary>For an accepted link: the node number the node reported.</summary>
        public ushort Node { get; internal set; }
        /// <summary>For an accepted link: the listened port it came in on.</summary>
        public ushort Port { get; internal set; }
        /// <summary>True once closed or lost.</summary>
        public bool Closed { get { lock (gate) return lost || handle.IsClosed; } }

        internal Link(Library library)
        {
            Token = Callbacks.Register(this, handle);
        }

        internal void Opened(int id)
        {
            Id = id;
            lock (gate)
            {
                // Lost before nax_open returned: the library has freed it already.
                if (!lost) handle.Set(id);
            }
        }

        /// <summary>A user presented a credential.  Runs on the link's reception thread.</summary>
        public event EventHandler<UserEventArgs> UserEvent
        {
            add { lock (gate) { userEvent += value; Update(); } }
            remove { lock (gate) { userEvent -= value; Update(); } }
        }

        /// <summary>An aux input changed.  Runs on the link's reception thread.</summary>
        public event EventHandler<AuxInputEventArgs> AuxInput
        {
            add { lock (gate) { auxInput += value; Update(); } }
            remove { lock (gate) { auxInput -= value; Update(); } }
        }

        /// <summary>The link was lost; the library has closed it.  Runs on its reception thread.</summary>
        public event EventHandler<LostEventArgs> Lost;

        // The native callbacks are set only while someone listens: without one the library
        // answers nothing and the node sees no host waiting.
        private void Update()
        {
            if (Id == 0 || lost || handle.IsClosed) return;
            NaxException.Check(Native.nax_set_user_callback(Id, userEvent != null ? Callbacks.User : null), "nax_set_user_callback");
            NaxException.Check(Native.nax_set_aux_input_callback(Id, auxInput != null ? Callbacks.AuxInput : null),
                "nax_set_aux_input_callback");
        }

        internal void RaiseUser(UserEventArgs e)
        {
            var handler = userEvent;
            if (handler == null) return;
            handler(this, e);
            if (e.Answer != null && !closing) AnswerUserEvent(e.Node, e.Answer);
        }

        internal void RaiseAuxInput(AuxInputEventArgs e)
        {
            var handler = auxInput;
            if (handler == null) return;
            handler(this, e);
            if (e.AnswerCode.HasValue && !closing) AnswerAuxInputEvent(e.Node, e.AnswerCode.Value);
        }

        internal void OnConn(uint state)
        {
            if (state != 2 && state != 3) return;
            lock (gate)
            {
                lost = true;
                handle.SetHandleAsInvalid(); // the library closes and frees a lost link itself
            }
            Callbacks.Unregister(Token);
            var handler = Lost;
            if (handler != null) handler(this, new LostEventArgs { LinkId = Id, NoKeepalive = state == 3 });
        }

        /// <summary>Closes the link; closing a closed or lost link does nothing.  Not from
        /// inside one of the link's own handlers (the thread cannot wait for itself).</summary>
        public void Dispose()
        {
            if (Callbacks.Current == (object)this)
                throw new InvalidOperationException("a link cannot be closed from inside its own event handler");
            lock (gate)
            {
                if (lost || handle.IsClosed) return;
            }
            closing = true;
            Native.nax_set_user_callback(Id, null);
            Native.nax_set_aux_input_callback(Id, null);
            handle.Dispose();
            Callbacks.Unregister(Token);
            // 1056, 1036: lost and being freed by its own thread at that moment.
            uint status = handle.CloseStatus;
            if (status != 1056 && status != 1036) NaxException.Check(status, "nax_close");
        }

        public void Close()
        {
            Dispose();
        }

        private uint Check(uint status, string function, uint accepted1 = 1, uint accepted2 = 1)
        {
            return NaxException.Check(status, function, accepted1, accepted2);
        }

        // --- settings ---
        /// <summary>The packet protocol, 1 or 2 (0 when the link cannot be taken).</summary>
        public byte Protocol
        {
            get { return Native.nax_get_packet_protocol(Id); }
            set { Check(Native.nax_set_packet_protocol(Id, value), "nax_set_packet_protocol"); }
        }

        public void SetSourceNode(ushort node) { Check(Native.nax_set_source_node(Id, node), "nax_set_source_node"); }
        public void SetReceiveTimeout(int ms) { Check(Native.nax_set_rcv_timeout(Id, ms), "nax_set_rcv_timeout"); }
        public void SetSendTimeout(int ms) { Check(Native.nax_set_snd_timeout(Id, ms), "nax_set_snd_timeout"); }
        public void SetInterbyteTimeout(int ms) { Check(Native.nax_set_interbyte_timeout(Id, ms), "nax_set_interbyte_timeout"); }

        // --- clock ---
        public DateTime GetTime(ushort node)
        {
            NaxDateTime c;
            Check(Native.nax_get_time(Id, node, out c), "nax_get_time");
            DateTime? when = Codec.FromNative(c);
            if (!when.HasValue)
                throw new InvalidDataException(string.Format("node {0} keeps an invalid clock: {1}-{2}-{3} {4}:{5}:{6}",
                    node, 2000 + c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second));
            return when.Value;
        }

        /// <summary>Sets the node's clock (local time; its weekday as nodes count, 0 = Sunday).</summary>
        public void SetTime(ushort node, DateTime time)
        {
            NaxDateTime c = Codec.ToNative(time);
            Check(Native.nax_set_time(Id, node, ref c), "nax_set_time");
        }

        // --- numeric parameters ---
        public uint GetNumCfg(ushort node, ushort numId, uint size = 2)
        {
            uint value;
            Check(Native.nax_get_num_cfg(Id, node, size, numId, out value), "nax_get_num_cfg");
            return value;
        }

        public void SetNumCfg(ushort node, ushort numId, uint value, uint size = 2)
        {
            Check(Native.nax_set_num_cfg(Id, node, size, numId, unchecked((int)value)), "nax_set_num_cfg");
        }

        // --- aux inputs and relays ---
        public AuxInput GetAuxInput(ushort node, ushort input)
        {
            var c = new AuxInput().ToNative();
            Check(Native.nax_get_aux_input(Id, node, input, ref c), "nax_get_aux_input");
            return Vedodiroz.AuxInput.FromNative(c);
        }

        public void SetAuxInput(ushort node, ushort input, AuxInput aux)
        {
            var c = aux.ToNative();
            Check(Native.nax_set_aux_input(Id, node, input, ref c), "nax_set_aux_input");
        }

        /// <summary>The state of every aux input as one bit mask.</summary>
        public uint StateAuxInput(ushort node)
        {
            uint state;
            Check(Native.nax_state_aux_input(Id, node, out state), "nax_state_aux_input");
            return state;
        }

        public void ReleControl(ushort node, uint rele, byte timeMode)
        {
            Check(Native.nax_rele_control(Id, node, rele, timeMode), "nax_rele_control");
        }

        public void AnswerAuxInputEvent(ushort node, byte code)
        {
            if (closing) throw new LinkException(1061, "nax_answer_aux_input_event");
            Check(Native.nax_answer_aux_input_event(Id, node, code), "nax_answer_aux_input_event");
        }

        // --- users ---
        // Node verdicts that only end a list.
        private const uint NoUsers = 7, NoMoreRecords = 8, NoMarks = 21, SchedulesLastPage = 31;

        /// <summary>One page of users from firstIndex; <paramref name="last"/> says the node has no more.</summary>
        public IList<User> ListUsers(ushort node, uint firstIndex, ushort count, out bool last)
        {
            var array = NewUsers(count);
            ushort stored;
            uint status = Check(Native.nax_list_users(Id, node, firstIndex, count, array, out stored), "nax_list_users",
                NoUsers, NoMoreRecords);
            last = status != 1;
            return array.Take(Math.Min(stored, count)).Select(User.FromNative).ToList();
        }

        /// <summary>Every user of the node, asked for page by page as the sequence is read.</summary>
        public IEnumerable<User> Users(ushort node, ushort pageSize = 16)
        {
            return Paged<User>((uint first, out bool last) => ListUsers(node, first, pageSize, out last));
        }

        private delegate IList<T> Pager<T>(uint first, out bool last);

        private static IEnumerable<T> Paged<T>(Pager<T> page)
        {
            uint first = 0;
            while (true)
            {
                bool last;
                // Protocol-1 nodes keep their own position: index 0 starts, any other goes on.
                IList<T> records = page(first, out last);
                foreach (T r in records) yield return r;
                if (last || records.Count == 0) yield break;
                first += (uint)records.Count;
            }
        }

        private static NaxUser[] NewUsers(int count)
        {
            var array = new NaxUser[count];
            for (int i = 0; i < count; i++) array[i] = new User().ToNative();
            return array;
        }

        private delegate uint UserBatch(int l, ushort node, uint first, ushort count, NaxUser[] users, out ushort taken);

        private int Batch(string function, UserBatch call, ushort node, IEnumerable<User> users, uint firstIndex)
        {
            var batch = users.ToList();
            if (batch.Count == 0) return 0;
            if (batch.Count > 1 && Protocol == 1) // protocol-1 nodes take one user per request
                return batch.Select((u, i) => Batch(function, call, node, new[] { u }, firstIndex + (uint)i)).Sum();
            if (batch.Count > ushort.MaxValue) throw new ArgumentException("too many users for one request");
            NaxUser[] array = batch.Select(u => u.ToNative()).ToArray();
            ushort taken;
            Check(call(Id, node, firstIndex, (ushort)array.Length, array, out taken), function);
            return taken;
        }

        /// <summary>Sends the users in one request (protocol 1: one per user); returns how many
        /// the node took.  A protocol-2 batch must fit one packet (else LinkException 1037).</summary>
        public int AddUsers(ushort node, IEnumerable<User> users, uint firstIndex = 0)
        {
            return Batch("nax_add_user", (int l, ushort n, uint f, ushort c, NaxUser[] u, out ushort t) =>
                Native.nax_add_user(l, n, f, c, u, out t), node, users, firstIndex);
        }

        public int EditUsers(ushort node, IEnumerable<User> users, uint firstIndex = 0)
        {
            return Batch("nax_edit_user", Native.nax_edit_user, node, users, firstIndex);
        }

        public int DeleteUsers(ushort node, IEnumerable<uint> ids, uint firstIndex = 0)
        {
            return Batch("nax_del_user", Native.nax_del_user, node, ids.Select(id => new User { Id = id }), firstIndex);
        }

        /// <summary>Protocol 1: one user with extra bytes after its block.</summary>
        public void AddUserIn1(ushort node, User user, byte[] extra = null)
        {
            var c = user.ToNative();
            extra = extra ?? new byte[0];
            Check(Native.nax_add_user_in1(Id, node, ref c, 0, extra.Length > 0 ? extra : null, (uint)extra.Length),
                "nax_add_user_in1");
        }

        // --- marks ---
        public IList<Mark> ListMarks(ushort node, uint firstIndex, ushort count, out bool last)
        {
            var array = new NaxMark[count];
            for (int i = 0; i < count; i++) array[i].Code = new byte[11];
            ushort stored;
            uint status = Check(Native.nax_list_marks(Id, node, firstIndex, count, array, out stored), "nax_list_marks",
                NoMarks, NoMoreRecords);
            last = status != 1;
            return array.Take(Math.Min(stored, count)).Select(Mark.FromNative).ToList();
        }

        /// <summary>Every mark of the node, oldest first, asked for page by page.</summary>
        public IEnumerable<Mark> Marks(ushort node, ushort pageSize = 16)
        {
            return Paged<Mark>((uint first, out bool last) => ListMarks(node, first, pageSize, out last));
        }

        // --- administration ---
        public string GetInfo(ushort node, string query)
        {
            var answer = new byte[512];
            Check(Native.nax_get_info(Id, node, Codec.Encode(query, 512, "query"), answer), "nax_get_info");
            return Codec.Decode(answer);
        }

        public void ResetNode(ushort node, int deviceId = 0, int subId = 0) { Check(Native.nax_reset_node(Id, node, deviceId, subId), "nax_reset_node"); }
        public void BlockNode(ushort node, bool blocked) { Check(Native.nax_block_node(Id, node, (byte)(blocked ? 1 : 0)), "nax_block_node"); }
        public void FlushTable(ushort node, Table table) { Check(Native.nax_flush_table(Id, node, (byte)table), "nax_flush_table"); }

        /// <summary>Deletes the oldest count records of a table; returns how many went.</summary>
        public int DeleteRecords(ushort node, Table table, ushort count)
        {
            ushort deleted;
            Check(Native.nax_del_records(Id, node, (uint)table, count, out deleted), "nax_del_records");
            return deleted;
        }

        // --- schedules ---
        public ScheduleHeader GetScheduleHeader(ushort node, ushort scheduleId)
        {
            var c = new NaxSchdHeader { Name = new byte[22] };
            Check(Native.nax_get_schd_header(Id, node, scheduleId, ref c), "nax_get_schd_header");
            return new ScheduleHeader
            {
                Id = c.Id, Name = Codec.Decode(c.Name), Hours = c.Hours, Segments = c.Segments, Time = Codec.FromNative(c.DateTime),
            };
        }

        public void SetScheduleHeader(ushort node, ScheduleHeader header)
        {
            var c = new NaxSchdHeader
            {
                Id = header.Id, Name = Codec.Field(header.Name, 22, "ScheduleHeader.Name"), Hours = header.Hours,
                Segments = header.Segments, DateTime = Codec.ToNative(header.Time),
            };
            Check(Native.nax_set_schd_header(Id, node, ref c), "nax_set_schd_header");
        }

        public IList<Segment> GetScheduleSegments(ushort node, ushort scheduleId, uint firstIndex = 0, uint count = 64)
        {
            var array = new NaxSchdSegment[count];
            uint received;
            Check(Native.nax_get_schd_segments(Id, node, scheduleId, array, firstIndex, count, out received), "nax_get_schd_segments");
            return array.Take((int)Math.Min(received, count))
                .Select(s => new Segment { Hours = s.Hours, Minutes = s.Minutes, Enabled = s.Enabled != 0 }).ToList();
        }

        /// <summary>Returns how many segments the node took.</summary>
        public uint SetScheduleSegments(ushort node, ushort scheduleId, IList<Segment> segments, uint firstIndex = 0)
        {
            var array = segments.Select(s => new NaxSchdSegment { Hours = s.Hours, Minutes = s.Minutes, Enabled = (byte)(s.Enabled ? 1 : 0) })
                .DefaultIfEmpty().ToArray();
            uint taken;
            Check(Native.nax_set_schd_segments(Id, node, scheduleId, array, firstIndex, (uint)segments.Count, out taken),
                "nax_set_schd_segments");
            return taken;
        }

        public void DeleteSchedule(ushort node, ushort scheduleId) { Check(Native.nax_del_schd(Id, node, scheduleId), "nax_del_schd"); }

        /// <summary>Every schedule of the node, asked for page by page.</summary>
        public IEnumerable<ScheduleEntry> Schedules(ushort node, uint pageSize = 16)
        {
            ushort start = 0;
            while (true)
            {
                var array = new NaxSchdEntry[pageSize];
                for (int i = 0; i < pageSize; i++) array[i].Name = new byte[22];
                ushort following = start;
                uint received;
                uint status = Check(Native.nax_list_schd(Id, node, array, ref following, pageSize, out received), "nax_list_schd",
                    SchedulesLastPage);
                int got = (int)Math.Min(received, pageSize);
                for (int i = 0; i < got; i++) yield return new ScheduleEntry { Id = array[i].Id, Name = Codec.Decode(array[i].Name) };
                if (status == SchedulesLastPage || got == 0 || following <= start) yield break;
                start = following;
            }
        }

        // --- biometric templates ---
        public byte[] ReadTemplate(ushort node, ushort sensor, uint accessId, uint templateId)
        {
            var buffer = new byte[TemplateSize];
            Check(Native.nax_read_template(Id, node, sensor, accessId, templateId, buffer, TemplateSize), "nax_read_template");
            return buffer;
        }

        public void WriteTemplate(ushort node, ushort sensor, uint accessId, uint templateId, byte[] data)
        {
            Check(Native.nax_write_template(Id, node, sensor, accessId, templateId, data, (uint)data.Length), "nax_write_template");
        }

        public void DeleteTemplate(ushort node, ushort sensor, uint accessId, uint templateId)
        {
            Check(Native.nax_del_template(Id, node, sensor, accessId, templateId), "nax_del_template");
        }

        public void FlushTemplates(ushort node, ushort sensor) { Check(Native.nax_flush_templates(Id, node, sensor), "nax_flush_templates"); }

        // --- tasks ---
        public void AddTaskGroup(ushort node, TaskGroup group)
        {
            var c = new NaxTaskGroup { MaskFields = group.MaskFields, Id = group.Id, Items = group.Items, Name = Codec.Field(group.Name, 17, "TaskGroup.Name") };
            Check(Native.nax_add_task_group(Id, node, ref c), "nax_add_task_group");
        }

        public void AddTaskItem(ushort node, uint groupId, TaskItem item)
        {
            var c = new NaxTaskItem
            {
                MaskFields = item.MaskFields, Type = item.Type, Id = item.Id, Name = Codec.Field(item.Name, 17, "TaskItem.Name"),
                JobOrder = Codec.Field(item.JobOrder, 10, "TaskItem.JobOrder"),
            };
            Check(Native.nax_add_task_item(Id, node, groupId, ref c), "nax_add_task_item");
        }

        // --- files ---
        /// <summary>Opens a file on the node (one per node at a time); returns its size.</summary>
        public uint FileOpen(ushort node, string name, FileMode mode)
        {
            uint size;
            Check(Native.nax_fopen(Id, node, Codec.Encode(name, 511, "name"), (uint)mode, out size), "nax_fopen");
            return size;
        }

        /// <summary>The next chunk of the open file (empty at its end).</summary>
        public byte[] FileRead(ushort node, int size = FileChunk)
        {
            var buffer = new byte[size];
            uint got;
            Check(Native.nax_fread(Id, node, buffer, (uint)size, out got), "nax_fread");
            Array.Resize(ref buffer, (int)Math.Min(got, (uint)size));
            return buffer;
        }

        public void FileWrite(ushort node, byte[] data, int offset, int count)
        {
            var chunk = new byte[count];
            Array.Copy(data, offset, chunk, 0, count);
            Check(Native.nax_fwrite(Id, node, chunk, (uint)count), "nax_fwrite");
        }

        /// <summary>Closes the open file; returns the node's CRC-32 of it.</summary>
        public uint FileClose(ushort node)
        {
            uint crc;
            Check(Native.nax_fclose(Id, node, out crc), "nax_fclose");
            return crc;
        }

        public void FileDelete(ushort node, string name) { Check(Native.nax_fdel(Id, node, Codec.Encode(name, 511, "name")), "nax_fdel"); }

        /// <summary>Copies a whole file of the node into destination; returns the bytes copied.</summary>
        public long ReadFile(ushort node, string name, Stream destination)
        {
            uint size = FileOpen(node, name, FileMode.Read);
            long got = 0;
            try
            {
                while (got < size)
                {
                    byte[] chunk = FileRead(node);
                    if (chunk.Length == 0) break;
                    destination.Write(chunk, 0, chunk.Length);
                    got += chunk.Length;
                }
            }
            finally
            {
                FileClose(node);
            }
            return got;
        }

        /// <summary>Writes source to the end as a file of the node; returns the node's CRC-32.</summary>
        public uint WriteFile(ushort node, string name, Stream source)
        {
            FileOpen(node, name, FileMode.Write);
            var buffer = new byte[FileChunk];
            try
            {
                int n;
                while ((n = source.Read(buffer, 0, buffer.Length)) > 0) FileWrite(node, buffer, 0, n);
            }
            catch
            {
                try { FileClose(node); } catch (NaxException) { }
                throw;
            }
            return FileClose(node);
        }

        // --- answers and display ---
        /// <summary>Answers a user event; may be called from inside the event handler.</summary>
        public void AnswerUserEvent(ushort node, UserEventAnswer answer)
        {
            if (closing) throw new LinkException(1061, "nax_answer_user_event");
            var c = answer.ToNative();
            Check(Native.nax_answer_user_event(Id, node, ref c), "nax_answer_user_event");
        }

        /// <summary>Shows up to 8 messages; returns the node's answer word.</summary>
        public ushort DisplayMessages(ushort node, IList<DisplayMessage> messages, int timer = 0)
        {
            var array = messages.Select(m => new NaxDisplayMessage
            {
                Line = m.Line, Pos = m.Pos, CmdLine = m.CmdLine, CmdPos = m.CmdPos, Font = m.Font,
                Data = Codec.Field(m.Data, 50, "DisplayMessage.Data"),
            }).ToArray();
            if (array.Length == 0) array = new[] { new NaxDisplayMessage { Data = new byte[50] } };
            ushort answer;
            Check(Native.nax_display_msg(Id, node, (ushort)messages.Count, array, timer, out answer), "nax_display_msg");
            return answer;
        }
    }
}
