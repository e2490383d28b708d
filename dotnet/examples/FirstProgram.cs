// A first program: the node's clock, a user added, every user and mark listed, events answered.
using System;
using System.Threading;
using Vedodiroz;

class FirstProgram
{
    static int Main(string[] args)
    {
        string conn = args.Length > 0 ? args[0] : "192.0.2.10:3001";
        using (var lib = new Library(logPath: null, logLevel: 0))
        using (Link link = lib.Open(conn, protocol: 2, sourceNode: 0x100, timeoutMs: 3000))
        {
            Console.WriteLine("node clock: " + link.GetTime(1));
            link.SetTime(1, DateTime.Now);
            link.AddUsers(1, new[] { new User { Id = 1001, Psw = 4321, Text1 = "Maria" } });
            foreach (User user in link.Users(1))
                Console.WriteLine("user " + user.Id + " " + user.Text1);
            foreach (Mark mark in link.Marks(1))
                Console.WriteLine("mark " + mark.Id + " " + mark.Time + " " + mark.Direction);

            try
            {
                link.ReadTemplate(1, 1, 1001, 9);
            }
            catch (NodeException e)
            {
                Console.WriteLine("refused: " + e.Status + " " + e.Text);
            }

            // Handlers run on the library's thread: keep them short, never close the link here,
            // and while one answers, a command waiting on the same link cannot get its answer.
            var seen = new ManualResetEventSlim();
            link.UserEvent += (sender, e) =>
            {
                Console.WriteLine("user " + e.Id + " at node " + e.Node);
                e.Answer = new UserEventAnswer { User = new User { Id = e.Id, St = 1 } };
                seen.Set();
            };
            link.Lost += (sender, e) => Console.WriteLine("link lost");
            if (!seen.Wait(TimeSpan.FromSeconds(10)))
                Console.WriteLine("no user event within 10 s");
        }
        return 0;
    }
}
