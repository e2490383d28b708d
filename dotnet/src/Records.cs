// Records as plain classes with .NET types, and their conversion to and from the C records.
using System;
using System.Collections.Generic;
using System.Text;

namespace Vedodiroz
{
    /// <summary>Direction of passage as the node reports it; other bytes pass through unnamed.</summary>
    public enum Direction : byte { None = 0, In = 1, Out = 2 }

    /// <summary>Tables of <see cref="Link.FlushTable"/> and <see cref="Link.DeleteRecords"/>.</summary>
    public enum Table : byte { Users = 0, Marks = 1 }

    /// <summary>Open modes of <see cref="Link.FileOpen"/>.</summary>
    public enum FileMode : uint { Read = 0, Write = 1, Append = 2 }

    /// <summary>A user of a node.  Fields left null are neither sent nor received.</summary>
    public class User
    {
        public uint? Id { get; set; }
        public ushort? Psw { get; set; }
        public byte? St { get; set; }
        public ushort? Ctl { get; set; }
        public byte? Panic { get; set; }
        public byte? BioCount { get; set; }
        public byte? BioLevel { get; set; }
        public byte? SecLevel { get; set; }
        public string Text1 { get; set; }
        public string Text2 { get; set; }
        public ushort? ScheduleId { get; set; }
        public byte? AntiPassback { get; set; }

        /// <summary>Mask bits of the fields that are set.</summary>
        public uint Mask
        {
            get
            {
                uint m = 0;
                if (Id.HasValue) m |= 0x0001;
                if (Psw.HasValue) m |= 0x0002;
                if (St.HasValue) m |= 0x0004;
                if (Ctl.HasValue) m |= 0x0008;
                if (Panic.HasValue) m |= 0x0010;
                if (BioCount.HasValue) m |= 0x0020;
                if (BioLevel.HasValue) m |= 0x0040;
                if (SecLevel.HasValue) m |= 0x0080;
                if (Text1 != null) m |= 0x0100;
                if (Text2 != null) m |= 0x0200;
                if (ScheduleId.HasValue) m |= 0x0800;
                if (AntiPassback.HasValue) m |= 0x1000;
                return m;
            }
        }

        internal NaxUser ToNative()
        {
            return new NaxUser
            {
                Mask = Mask, Id = Id ?? 0, Psw = Psw ?? 0, St = St ?? 0, Ctl = Ctl ?? 0, Panic = Panic ?? 0,
                BioCount = BioCount ?? 0, BioLevel = BioLevel ?? 0, SecLevel = SecLevel ?? 0,
                Text1 = Codec.Field(Text1, 256, "User.Text1"), Text2 = Codec.Field(Text2, 256, "User.Text2"),
                Reserved = new byte[22], ScheduleId = ScheduleId ?? 0, AntiPassback = AntiPassback ?? 0,
            };
        }

        internal static User FromNative(NaxUser c)
        {
            uint m = c.Mask;
            return new User
            {
                Id = (m & 0x0001) != 0 ? c.Id : (uint?)null,
                Psw = (m & 0x0002) != 0 ? c.Psw : (ushort?)null,
                St = (m & 0x0004) != 0 ? c.St : (byte?)null,
                Ctl = (m & 0x0008) != 0 ? c.Ctl : (ushort?)null,
                Panic = (m & 0x0010) != 0 ? c.Panic : (byte?)null,
                BioCount = (m & 0x0020) != 0 ? c.BioCount : (byte?)null,
                BioLevel = (m & 0x0040) != 0 ? c.BioLevel : (byte?)null,
                SecLevel = (m & 0x0080) != 0 ? c.SecLevel : (byte?)null,
                Text1 = (m & 0x0100) != 0 ? Codec.Decode(c.Text1) : null,
                Text2 = (m & 0x0200) != 0 ? Codec.Decode(c.Text2) : null,
                ScheduleId = (m & 0x0800) != 0 ? c.ScheduleId : (ushort?)null,
                AntiPassback = (m & 0x1000) != 0 ? c.AntiPassback : (byte?)null,
            };
        }
    }

    /// <summary>An attendance mark.  Fields the node did not send are null.</summary>
    public class Mark
    {
        public uint? Id { get; set; }
        /// <summary>Null also when the node sent a date that is not a valid one.</summary>
        public DateTime? Time { get; set; }
        /// <summary>The event byte, passed through (protocol-1 event words mapped to bytes).</summary>
        public byte? Event { get; set; }
        public Direction? Direction { get; set; }
        public ushort? Index { get; set; }
        public byte? Kind { get; set; }
        public uint? Value { get; set; }
        public byte? Flag { get; set; }
        public string Code { get; set; }

        internal static Mark FromNative(NaxMark c)
        {
            uint m = c.Mask;
            return new Mark
            {
                Kind = (m & 0x0001) != 0 ? c.Kind : (byte?)null,
                Id = (m & 0x0002) != 0 ? c.Id : (uint?)null,
                Time = (m & 0x0004) != 0 ? Codec.FromNative(c.DateTime) : null,
                Event = (m & 0x0008) != 0 ? c.Event : (byte?)null,
                Index = (m & 0x0010) != 0 ? c.Index : (ushort?)null,
                Direction = (m & 0x0020) != 0 ? (Direction)c.Direction : (Direction?)null,
                Value = (m & 0x0040) != 0 ? c.Value : (uint?)null,
                Flag = (m & 0x0080) != 0 ? c.Flag : (byte?)null,
                Code = (m & 0x0100) != 0 ? Codec.Decode(c.Code) : null,
            };
        }
    }

    /// <summary>Settings of an auxiliary input.</summary>
    public class AuxInput
    {
        public byte InvertInput { get; set; }
        public byte EvStatus { get; set; }
        public byte TimeOn { get; set; }
        public byte TimeOff { get; set; }
        public byte EvHost { get; set; }
        public byte EvHistoric { get; set; }
        public int EvInCondition { get; set; }
        public int EvReleCondition { get; set; }
        public ushort ScheduleId { get; set; }
        /// <summary>Up to 8 bytes.</summary>
        public byte[] Extra { get; set; } = new byte[8];

        internal NaxAuxInput ToNative()
        {
            var extra = new byte[8];
            if (Extra != null)
            {
                if (Extra.Length > 8) throw new ArgumentException("AuxInput.Extra holds at most 8 bytes");
                Array.Copy(Extra, extra, Extra.Length);
            }
            return new NaxAuxInput
            {
                InvertInput = InvertInput, EvStatus = EvStatus, TimeOn = TimeOn, TimeOff = TimeOff, EvHost = EvHost,
                EvHistoric = EvHistoric, EvInCondition = EvInCondition, EvReleCondition = EvReleCondition,
                ScheduleId = ScheduleId, Extra = extra,
            };
        }

        internal static AuxInput FromNative(NaxAuxInput c)
        {
            return new AuxInput
            {
                InvertInput = c.InvertInput, EvStatus = c.EvStatus, TimeOn = c.TimeOn, TimeOff = c.TimeOff,
                EvHost = c.EvHost, EvHistoric = c.EvHistoric, EvInCondition = c.EvInCondition,
                EvReleCondition = c.EvReleCondition, ScheduleId = c.ScheduleId, Extra = c.Extra,
            };
        }
    }

    public class ScheduleHeader
    {
        public ushort Id { get; set; }
        public string Name { get; set; } = "";
        public uint Hours { get; set; }
        public uint Segments { get; set; }
        public DateTime? Time { get; set; }
    }

    public class Segment
    {
        public byte Hours { get; set; }
        public byte Minutes { get; set; }
        public bool Enabled { get; set; } = true;
    }

    public class ScheduleEntry
    {
        public ushort Id { get; set; }
        public string Name { get; set; }
    }

    public class TaskGroup
    {
        public byte Id { get; set; }
        public string Name { get; set; } = "";
        public byte Items { get; set; }
        public ushort MaskFields { get; set; } = 0xFFFF;
    }

    public class TaskItem
    {
        public byte Id { get; set; }
        public byte Type { get; set; }
        public string Name { get; set; } = "";
        public string JobOrder { get; set; } = "";
        public ushort MaskFields { get; set; } = 0xFFFF;
    }

    /// <summary>The host's answer to a user event: the user's fields that are set
    /// (<c>User.St</c> is the answer's status), a print flag and up to ten short texts.</summary>
    public class UserEventAnswer
    {
        public User User { get; set; } = new User();
        public DateTime? Time { get; set; }
        public bool PrintEnable { get; set; }
        public IList<string> Aux { get; set; } = new List<string>();

        internal NaxUserEventAnswer ToNative()
        {
            if (Aux.Count > 10) throw new ArgumentException("UserEventAnswer.Aux holds at most 10 texts");
            var aux = new byte[450];
            for (int i = 0; i < Aux.Count; i++)
                Array.Copy(Codec.Field(Aux[i], 45, "UserEventAnswer.Aux"), 0, aux, 45 * i, 45);
            return new NaxUserEventAnswer
            {
                DateTime = Codec.ToNative(Time), User = User.ToNative(), PrintEnable = (byte)(PrintEnable ? 1 : 0), Aux = aux,
            };
        }
    }

    public class DisplayMessage
    {
        public ushort Line { get; set; }
        public ushort Pos { get; set; }
        public string Data { get; set; } = "";
        public byte CmdLine { get; set; }
        public byte CmdPos { get; set; }
        public ushort Font { get; set; }
    }

    /// <summary>A user presented a credential at a node.  Set <see cref="Answer"/> in the
    /// handler to answer it once the handlers have run.</summary>
    public class UserEventArgs : EventArgs
    {
        public int LinkId { get; internal set; }
        public ushort Node { get; internal set; }
        public uint Id { get; internal set; }
        public ushort Index { get; internal set; }
        public byte Event { get; internal set; }
        public Direction Direction { get; internal set; }
        public DateTime? Time { get; internal set; }
        public UserEventAnswer Answer { get; set; }
    }

    /// <summary>An auxiliary input of a node changed.  Set <see cref="AnswerCode"/> to answer it.</summary>
    public class AuxInputEventArgs : EventArgs
    {
        public int LinkId { get; internal set; }
        public ushort Node { get; internal set; }
        public byte Input { get; internal set; }
        public byte Value { get; internal set; }
        public DateTime? Time { get; internal set; }
        public byte? AnswerCode { get; set; }
    }

    /// <summary>The link was lost: the connection closed (<see cref="NoKeepalive"/> false) or
    /// the node stopped answering keepalives.  The library has closed the link.</summary>
    public class LostEventArgs : EventArgs
    {
        public int LinkId { get; internal set; }
        public bool NoKeepalive { get; internal set; }
    }

    /// <summary>A node connected to the listener and waits to be accepted.</summary>
    public class IncomingEventArgs : EventArgs
    {
        public uint LinkId { get; internal set; }
    }

    /// <summary>Texts (UTF-8, NUL-terminated, as the nodes expect) and dates (two-digit years).</summary>
    internal static class Codec
    {
        private static readonly Encoding Utf8 = new UTF8Encoding(false, false);

        /// <summary>A NUL-terminated text; size 0 means no bound.</summary>
        internal static byte[] Encode(string text, int size, string what)
        {
            byte[] raw = Utf8.GetBytes(text ?? "");
            if (Array.IndexOf(raw, (byte)0) >= 0) throw new ArgumentException(what + ": a text cannot hold a NUL character");
            if (size > 0 && raw.Length >= size)
                throw new ArgumentException(what + ": " + raw.Length + " bytes do not fit a field of " + (size - 1));
            var z = new byte[raw.Length + 1];
            Array.Copy(raw, z, raw.Length);
            return z;
        }

        /// <summary>A text as a C field of exactly size bytes.</summary>
        internal static byte[] Field(string text, int size, string what)
        {
            var field = new byte[size];
            byte[] z = Encode(text, size, what);
            Array.Copy(z, field, z.Length);
            return field;
        }

        internal static string Decode(byte[] raw)
        {
            if (raw == null) return "";
            int end = Array.IndexOf(raw, (byte)0);
            return Utf8.GetString(raw, 0, end < 0 ? raw.Length : end);
        }

        internal static NaxDateTime ToNative(DateTime? when)
        {
            if (!when.HasValue) return new NaxDateTime();
            DateTime t = when.Value;
            if (t.Year < 2000 || t.Year > 2099)
                throw new ArgumentOutOfRangeException("when", "nodes keep two-digit years of 2000-2099, not " + t.Year);
            return new NaxDateTime
            {
                Hour = (byte)t.Hour, Minute = (byte)t.Minute, Second = (byte)t.Second, Year = (byte)(t.Year - 2000),
                Month = (byte)t.Month, Day = (byte)t.Day, Weekday = (byte)t.DayOfWeek, // 0 = Sunday, as nodes count
            };
        }

        /// <summary>The date, or null when the record holds no valid one (absent or garbled).</summary>
        internal static DateTime? FromNative(NaxDateTime c)
        {
            if (c.Month < 1 || c.Month > 12 || c.Day < 1 || c.Year > 99 || c.Hour > 23 || c.Minute > 59 || c.Second > 59)
                return null;
            if (c.Day > DateTime.DaysInMonth(2000 + c.Year, c.Month)) return null;
            return new DateTime(2000 + c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second, DateTimeKind.Local);
        }
    }
}
