// The binding's own mapping against naxsim: arguments and records each way, errors, events, lifetime.
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Threading;
using NUnit.Framework;
using Vedodiroz;
using Vedodiroz.Testing;

[TestFixture]
public class BindingTests
{
    const int Wait = 10000; // ms: an upper bound on waiting for an event, not a measured time
    Library lib;
    readonly List<Simulator> sims = new List<Simulator>();

    [TestFixtureSetUp] public void StartLibrary() { lib = new Library(Path.Combine(Path.GetTempPath(), "nax-dotnet.log"), 1); }
    [TestFixtureTearDown] public void StopLibrary() { lib.Dispose(); }
    [TearDown] public void StopSimulators() { foreach (var s in sims) s.Dispose(); sims.Clear(); }

    Simulator Sim(int protocol, params string[] options)
    {
        var s = new Simulator(protocol, options);
        sims.Add(s);
        return s;
    }

    Link Open(int protocol, params string[] options)
    {
        return lib.Open(Sim(protocol, options).Conn, (byte)protocol);
    }

    static readonly User[] Staff =
    {
        new User { Id = 1001, Psw = 4321, Text1 = "Maria", Text2 = "Day shift", SecLevel = 3, ScheduleId = 2 },
        new User { Id = 1002, Psw = 1, Text1 = "Añaterve" }, // not ASCII
        new User { Id = 1003, Psw = 2 },
    };

    [TestCase(1)] [TestCase(2)]
    public void ClockParametersAndAuxInputs(int protocol)
    {
        using (var link = Open(protocol))
        {
            var when = new DateTime(2031, 5, 6, 7, 8, 9);
            link.SetTime(1, when);
            Assert.That(link.GetTime(1), Is.InRange(when, when.AddMinutes(1)));
            link.SetNumCfg(1, 7, 0xBEEF);
            Assert.AreEqual(0xBEEF, link.GetNumCfg(1, 7));
            link.SetAuxInput(1, 2, new AuxInput { InvertInput = 1, TimeOff = 4, EvInCondition = -7, ScheduleId = 9 });
            var aux = link.GetAuxInput(1, 2);
            Assert.AreEqual(new object[] { 1, 4, -7, 9 }, new object[] { aux.InvertInput, aux.TimeOff, aux.EvInCondition, aux.ScheduleId });
            link.ReleControl(1, 1, 5);
            if (protocol == 2) Assert.AreEqual(0u, link.StateAuxInput(1));
        }
    }

    [TestCase(1)] [TestCase(2)]
    public void UsersPageLazilyAndKeepTheirFields(int protocol)
    {
        using (var link = Open(protocol))
        {
            CollectionAssert.IsEmpty(link.Users(1)); // the node's "no users" ends the sequence
            var sent = protocol == 2 ? Staff : Staff.Select(u => new User { Id = u.Id, Psw = u.Psw, SecLevel = 2 }).ToArray();
            Assert.AreEqual(3, link.AddUsers(1, sent));
            var got = link.Users(1, pageSize: 2).ToList();
            CollectionAssert.AreEqual(sent.Select(u => u.Id), got.Select(u => u.Id));
            Assert.AreEqual(sent[0].Psw, got[0].Psw);
            if (protocol == 2)
            {
                CollectionAssert.AreEqual(sent.Select(u => u.Text1), got.Select(u => u.Text1));
                Assert.AreEqual("Day shift", got[0].Text2);
                Assert.AreEqual(1, link.EditUsers(1, new[] { new User { Id = 1002, Text1 = "Jonathan" } }));
            }
            else
            {
                Assert.IsNull(got[0].Text1); // protocol-1 records carry no texts
                link.AddUserIn1(1, new User { Id = 1010, Psw = 7 }, new byte[] { 1, 2 });
            }
            Assert.AreEqual(2, link.DeleteUsers(1, new uint[] { 1001, 1003 }));
            var left = link.Users(1).ToList();
            Assert.AreEqual(protocol == 2 ? "Jonathan" : null, left[0].Text1);
            Assert.AreEqual(protocol == 2 ? 1 : 2, left.Count);
        }
    }

    [TestCase(1)] [TestCase(2)]
    public void MarksPageThroughTheLog(int protocol)
    {
        using (var link = Open(protocol, "--marks", "5"))
        {
            var marks = link.Marks(1, pageSize: 2).ToList();
            Assert.AreEqual(5, marks.Count);
            Assert.That(marks.All(m => m.Time.HasValue && m.Id.HasValue && m.Event.HasValue));
        }
    }

    [TestCase(1)] [TestCase(2)]
    public void AdministrationSchedulesAndAnswers(int protocol)
    {
        using (var link = Open(protocol))
        {
            Assert.AreEqual("NX-SIM", link.GetInfo(1, "model"));
            Assert.AreEqual("héllo", link.GetInfo(1, "echo héllo"));
            link.BlockNode(1, true);
            link.ResetNode(1);
            foreach (ushort id in new ushort[] { 3, 5, 8 })
                link.SetScheduleHeader(1, new ScheduleHeader { Id = id, Name = "shift " + id, Hours = 2, Segments = 2, Time = new DateTime(2030, 1, 2, 3, 4, 5) });
            Assert.AreEqual(2, link.SetScheduleSegments(1, 5, new[] { new Segment { Hours = 8 }, new Segment { Hours = 12, Minutes = 30, Enabled = false } }));
            var segments = link.GetScheduleSegments(1, 5, 0, 2);
            Assert.AreEqual(new object[] { 12, 30, false }, new object[] { segments[1].Hours, segments[1].Minutes, segments[1].Enabled });
            Assert.AreEqual("shift 8", link.GetScheduleHeader(1, 8).Name);
            link.DeleteSchedule(1, 5);
            CollectionAssert.AreEqual(new[] { "shift 3", "shift 8" }, link.Schedules(1, pageSize: 1).Select(e => e.Name));
            link.AnswerUserEvent(1, new UserEventAnswer { User = new User { Id = 1001, St = 1, Text1 = "Welcome" }, PrintEnable = true, Aux = { "one", "two" } });
        }
    }

    [Test]
    public void Protocol2Families()
    {
        using (var link = Open(2))
        {
            link.AddUsers(1, Staff);
            Assert.AreEqual(2, link.DeleteRecords(1, Table.Users, 2));
            link.FlushTable(1, Table.Users);
            CollectionAssert.IsEmpty(link.Users(1));

            var template = Enumerable.Range(0, 384).Select(i => (byte)i).ToArray();
            link.WriteTemplate(1, 1, 1001, 2, template);
            CollectionAssert.AreEqual(template, link.ReadTemplate(1, 1, 1001, 2));
            link.DeleteTemplate(1, 1, 1001, 2);
            link.FlushTemplates(1, 1);
            Assert.Throws<NodeException>(() => link.ReadTemplate(1, 1, 1001, 2));

            link.AddTaskGroup(1, new TaskGroup { Id = 4, Name = "Cleaning", Items = 1 });
            link.AddTaskItem(1, 4, new TaskItem { Id = 1, Type = 2, Name = "Floor", JobOrder = "J-17" });
            link.DisplayMessages(1, new[] { new DisplayMessage { Line = 1, Data = "Hello" }, new DisplayMessage { Line = 2, Pos = 4, Data = "World" } }, 5);

            var data = Enumerable.Range(0, 1300).Select(i => (byte)(i * 7 % 251)).ToArray(); // three packets' worth
            link.WriteFile(1, "log/day.bin", new MemoryStream(data));
            var back = new MemoryStream();
            Assert.AreEqual(data.Length, link.ReadFile(1, "log/day.bin", back));
            CollectionAssert.AreEqual(data, back.ToArray());
            link.FileDelete(1, "log/day.bin");
            Assert.Throws<NodeException>(() => link.FileOpen(1, "log/day.bin", Vedodiroz.FileMode.Read));
        }
    }

    // Each failure becomes the right exception with the status and its meaning.
    [TestCase(1, "--refuse-error 2", typeof(NodeException), 2u, "the node refused to set its clock")]
    [TestCase(2, "--refuse-status 17", typeof(NodeException), 17u, "status reported by the node")]
    [TestCase(1, "", typeof(LinkException), 1038u, "command not available in the link's packet protocol")]
    [TestCase(2, "--no-answer", typeof(LinkException), 1026u, "no answer within the link's receive time-out")]
    public void FailuresBecomeExceptions(int protocol, string fault, Type type, uint status, string text)
    {
        using (var link = Open(protocol, fault.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries)))
        {
            link.SetReceiveTimeout(300);
            var e = (NaxException)Assert.Throws(type, () =>
            {
                if (status == 1038) link.FlushTemplates(1, 1);
                else link.SetTime(1, new DateTime(2030, 1, 1));
            });
            Assert.AreEqual(new object[] { status, text }, new object[] { e.Status, e.Text });
            StringAssert.StartsWith("nax_", e.Function);
        }
    }

    [Test]
    public void ArgumentsAreCheckedBeforeSending()
    {
        var e = Assert.Throws<LinkException>(() => lib.Open("127.0.0.1")); // no port
        Assert.AreEqual(1001u, e.Status);
        using (var link = Open(2))
        {
            Assert.Throws<ArgumentException>(() => link.AddUsers(1, new[] { new User { Id = 1, Text1 = new string('x', 256) } }));
            Assert.Throws<ArgumentOutOfRangeException>(() => link.SetTime(1, new DateTime(1999, 12, 31)));
            CollectionAssert.IsEmpty(link.Users(1)); // nothing reached the node
        }
    }

    [TestCase(1)] [TestCase(2)]
    public void EventsSurviveCollectionAndCarryTheirAnswer(int protocol)
    {
        var sim = Sim(protocol, "--control", Simulator.FreePort().ToString());
        using (var link = lib.Open(sim.Conn, (byte)protocol))
        {
            var users = new BlockingCollection<UserEventArgs>();
            var inputs = new BlockingCollection<AuxInputEventArgs>();
            var refused = new BlockingCollection<Exception>();
            link.UserEvent += (s, e) =>
            {
                e.Answer = new UserEventAnswer { User = new User { Id = e.Id, St = 1 } };
                try { ((Link)s).Dispose(); } catch (InvalidOperationException x) { refused.Add(x); }
                users.Add(e);
            };
            link.AuxInput += (s, e) => { e.AnswerCode = 3; inputs.Add(e); };
            UserEventArgs first, second;
            AuxInputEventArgs input;
            Assert.AreEqual("ok", sim.Control("wait 1 " + Wait)); // naxsim has taken the connection
            Func<int> requests = () => int.Parse(sim.Control("count").Split(' ')[2]);
            int before = requests();
            Assert.AreEqual("ok", sim.Control("user 77 3 0x6B 2"));
            Assert.IsTrue(users.TryTake(out first, Wait));
            GC.Collect(); // the callbacks the library holds must outlive any collection
            GC.WaitForPendingFinalizers();
            GC.Collect();
            Assert.AreEqual("ok", sim.Control("user 78 4 0x01 1"));
            Assert.IsTrue(users.TryTake(out second, Wait));
            Assert.AreEqual(new object[] { link.Id, (ushort)1, 77u, (ushort)3, Direction.Out, 78u, Direction.In },
                new object[] { first.LinkId, first.Node, first.Id, first.Index, first.Direction, second.Id, second.Direction });
            Assert.IsTrue(first.Time.HasValue);
            if (protocol == 2) Assert.AreEqual(0x6B, first.Event); // protocol 1 maps its event words
            if (protocol == 2) // protocol-1 nodes report no aux inputs
            {
                Assert.AreEqual("ok", sim.Control("aux 2 1"));
                Assert.IsTrue(inputs.TryTake(out input, Wait));
                Assert.AreEqual(new object[] { (byte)2, (byte)1, true }, new object[] { input.Input, input.Value, input.Time.HasValue });
            }
            // Each answer goes out once its handler has returned; a command sent before the
            // last one is out would wait for the link its reception thread needs to send it.
            int answers = protocol == 2 ? 3 : 2;
            var deadline = DateTime.UtcNow.AddMilliseconds(Wait);
            while (requests() < before + answers && DateTime.UtcNow < deadline) Thread.Sleep(10);
            Assert.AreEqual(before + answers, requests());
            Exception closing;
            Assert.IsTrue(refused.TryTake(out closing, Wait));
            Assert.IsFalse(link.Closed);
            Assert.AreEqual("NX-SIM", link.GetInfo(1, "model")); // answered events hold up nothing
        }
    }

    [Test]
    public void LostLinkIsReportedAndClosed()
    {
        var sim = Sim(2);
        var link = lib.Open(sim.Conn);
        var lost = new BlockingCollection<LostEventArgs>();
        link.Lost += (s, e) => lost.Add(e);
        sim.Dispose();
        LostEventArgs ev;
        Assert.IsTrue(lost.TryTake(out ev, Wait));
        Assert.AreEqual(link.Id, ev.LinkId);
        Assert.IsTrue(link.Closed);
        link.Dispose(); // nothing left to close
        Assert.Throws<LinkException>(() => link.GetInfo(1, "model"));
    }

    [Test]
    public void ListenAndAccept()
    {
        var port = Simulator.FreePort();
        var incoming = new BlockingCollection<IncomingEventArgs>();
        using (var listener = lib.Listen(port, 3000, (s, e) => incoming.Add(e)))
        {
            Sim(2, "--connect", "127.0.0.1:" + port, "--node", "7");
            IncomingEventArgs e;
            Assert.IsTrue(incoming.TryTake(out e, Wait));
            using (var link = listener.Accept(e.LinkId, node: 7))
            {
                Assert.AreEqual(new object[] { (ushort)7, port }, new object[] { link.Node, link.Port });
                Assert.AreEqual("NX-SIM", link.GetInfo(7, "model"));
            }
        }
    }

    [Test]
    public void OpenCloseCyclesLeakNoThreadOrDescriptor()
    {
        var sim = Sim(2);
        Cycles(sim.Conn, 5); // the runtime's own threads and buffers settle first
        int threads = Count("/proc/self/task"), fds = Count("/proc/self/fd");
        Cycles(sim.Conn, 100);
        // A leak shows as 50 or 100; the runtime may start a pool thread of its own meanwhile.
        Assert.That(Count("/proc/self/task"), Is.AtMost(threads + 2));
        Assert.AreEqual(fds, Count("/proc/self/fd"));
    }

    // Every other link is left for the finaliser to close; the last one is disposed, since
    // Mono scans stacks conservatively and may still see the last object made.
    void Cycles(string conn, int n)
    {
        for (int i = 0; i < n; i++) OpenOnce(conn, i % 2 == 1);
        GC.Collect();
        GC.WaitForPendingFinalizers();
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    void OpenOnce(string conn, bool dispose)
    {
        Link link = lib.Open(conn);
        if (dispose) link.Dispose();
    }

    static int Count(string dir) { return Directory.GetFileSystemEntries(dir).Length; }
}
