// Failures as exceptions that carry the library's status number and its meaning.
using System;
using System.Runtime.InteropServices;

namespace Vedodiroz
{
    /// <summary>A call failed; <see cref="Status"/> is the number the library returned.</summary>
    public class NaxException : Exception
    {
        public uint Status { get; }
        /// <summary>What the status means (for a node's verdict, as an answer to this function).</summary>
        public string Text { get; }
        /// <summary>The C function that returned the status, such as "nax_add_user".</summary>
        public string Function { get; }

        public NaxException(uint status, string function, string text)
            : base((function.Length > 0 ? function + ": " : "") + text + " (status " + status + ")")
        {
            Status = status;
            Function = function;
            Text = text;
        }

        /// <summary>The library's English text for a status number.</summary>
        public static string StatusText(uint status)
        {
            Native.Load();
            return Marshal.PtrToStringAnsi(Native.nax_status_text(status)) ?? "";
        }

        internal static NaxException Of(uint status, string function)
        {
            if (status >= 1000) return new LinkException(status, function);
            return new NodeException(status, function);
        }

        internal static uint Check(uint status, string function, uint accepted1 = 1, uint accepted2 = 1)
        {
            if (status == 1 || status == accepted1 || status == accepted2) return status;
            throw Of(status, function);
        }
    }

    /// <summary>The library itself failed (status 1000 and above): the link, the transport, an argument.</summary>
    public class LinkException : NaxException
    {
        public LinkException(uint status, string function) : base(status, function, StatusText(status)) { }
    }

    /// <summary>The node refused the request; <see cref="NaxException.Status"/> is its verdict,
    /// passed through, and <see cref="NaxException.Text"/> says what it means for this command.</summary>
    public class NodeException : NaxException
    {
        public NodeException(uint status, string function) : base(status, function, Meaning(status, function)) { }

        private static string Meaning(uint status, string function)
        {
            Native.Load();
            IntPtr text = Native.nax_node_status_text(Codec.Encode(function, 0, "function"), status);
            return text != IntPtr.Zero ? Marshal.PtrToStringAnsi(text) : StatusText(status);
        }
    }
}
