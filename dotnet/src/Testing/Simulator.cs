// The naxsim node simulator as a child process, for the host's own tests.
using System;
using System.Diagnostics;
using System.IO;
using System.Net;
using System.Net.Sockets;
using System.Text.RegularExpressions;

namespace Vedodiroz.Testing
{
    /// <summary>A naxsim program on a free port of 127.0.0.1 (or connecting to a host's
    /// listener).  Options are naxsim's own: <c>new Simulator(2, "--events-every", "50")</c>,
    /// <c>"--refuse-status", "17"</c>, <c>"--delay", "500"</c>, <c>"--marks", "5"</c> and the
    /// others that <c>naxsim --help</c> lists.  The program is $NAXSIM, else naxsim on the PATH.
    /// <c>"--control", port</c> opens naxsim's control channel, which <see cref="Control"/>
    /// drives ("user ID INDEX EVENT DIRECTION", "aux INPUT VALUE", "drop" ...).</summary>
    public sealed class Simulator : IDisposable
    {
        private static readonly Regex Ready = new Regex(@"naxsim (listening on|connected to|serial on) (\S+) node (\d+)");
        private Process process;

        /// <summary>What to pass to Library.Open: "127.0.0.1:port", or "/dev/pts/N:115200" for --serial.</summary>
        public string Conn { get; private set; }
        public ushort Node { get; private set; }
        public int Protocol { get; private set; }

        /// <summary>The port of the control channel (0: none).</summary>
        public ushort ControlPort { get; private set; }

        public Simulator(int protocol = 2, params string[] options)
        {
            Protocol = protocol;
            int control = Array.IndexOf(options, "--control");
            if (control >= 0 && control + 1 < options.Length) ControlPort = ushort.Parse(options[control + 1]);
            string program = Environment.GetEnvironmentVariable("NAXSIM");
            if (string.IsNullOrEmpty(program)) program = "naxsim";
            var args = protocol == 0 ? "" : "--protocol " + protocol; // 0: naxsim detects it per connection
            foreach (string o in options) args += " " + Quote(o);
            var info = new ProcessStartInfo(program, args)
            {
                UseShellExecute = false, RedirectStandardOutput = true, RedirectStandardError = true, CreateNoWindow = true,
            };
            process = Process.Start(info);
            // Keep reading stderr so that the program never blocks on a full pipe.
            process.ErrorDataReceived += (s, e) => { };
            process.BeginErrorReadLine();
            var line = process.StandardOutput.ReadLineAsync();
            if (!line.Wait(10000) || line.Result == null || !Ready.IsMatch(line.Result))
            {
                Dispose();
                throw new InvalidOperationException("naxsim did not start: " + program + " " + args);
            }
            Match m = Ready.Match(line.Result);
            Conn = m.Groups[2].Value + (m.Groups[1].Value == "serial on" ? ":115200" : "");
            Node = ushort.Parse(m.Groups[3].Value);
            process.StandardOutput.ReadToEndAsync();
        }

        /// <summary>A TCP port of 127.0.0.1 that is free now, for a listener or a control channel.</summary>
        public static ushort FreePort()
        {
            var probe = new TcpListener(IPAddress.Loopback, 0);
            probe.Start();
            var port = (ushort)((IPEndPoint)probe.LocalEndpoint).Port;
            probe.Stop();
            return port;
        }

        /// <summary>Sends one command to the control channel; returns naxsim's reply ("ok" ...).</summary>
        public string Control(string command)
        {
            if (ControlPort == 0) throw new InvalidOperationException("started without --control");
            using (var client = new TcpClient())
            {
                client.Connect(IPAddress.Loopback, ControlPort);
                var stream = client.GetStream();
                var writer = new StreamWriter(stream) { NewLine = "\n" };
                writer.WriteLine(command);
                writer.Flush();
                return new StreamReader(stream).ReadLine();
            }
        }

        private static string Quote(string s)
        {
            return s.IndexOfAny(new[] { ' ', '"' }) < 0 ? s : "\"" + s.Replace("\"", "\\\"") + "\"";
        }

        public bool Running { get { return process != null && !process.HasExited; } }

        /// <summary>Stops the program (the node's connections drop, as when a node is switched off).</summary>
        public void Dispose()
        {
            if (process == null) return;
            try
            {
                if (!process.HasExited) process.Kill();
                process.WaitForExit(5000);
            }
            catch (InvalidOperationException) { }
            process.Dispose();
            process = null;
        }
    }
}
