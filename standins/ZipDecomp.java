// The product's archive extraction class: "ZipDecomp ARCHIVE FOLDER"
// extracts the zip archive into the folder with the Java runtime's own zip
// support and prints exactly "Success\r\n" or "Error\r\n", nothing else.
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.util.Enumeration;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;

public class ZipDecomp {
    public static void main(String[] args) {
        boolean ok;
        try {
            if (args.length != 2) throw new IOException("usage: ZipDecomp ARCHIVE FOLDER");
            extract(new File(args[0]), new File(args[1]));
            ok = true;
        } catch (Exception e) {
            ok = false;
        }
        System.out.print(ok ? "Success\r\n" : "Error\r\n");
        System.out.flush();
        System.exit(ok ? 0 : 1);
    }

    static void extract(File archive, File folder) throws IOException {
        String root = folder.getCanonicalPath() + File.separator;
        try (ZipFile zip = new ZipFile(archive)) {
            Enumeration<? extends ZipEntry> entries = zip.entries();
            while (entries.hasMoreElements()) {
                ZipEntry entry = entries.nextElement();
                File target = new File(folder, entry.getName().replace('\\', '/'));
                // An entry may not lead out of the folder.
                if (!(target.getCanonicalPath() + File.separator).startsWith(root))
                    throw new IOException("entry outside the folder: " + entry.getName());
                if (entry.isDirectory()) {
                    if (!target.isDirectory() && !target.mkdirs()) throw new IOException("cannot create " + target);
                    continue;
                }
                File parent = target.getParentFile();
                if (!parent.isDirectory() && !parent.mkdirs()) throw new IOException("cannot create " + parent);
                try (InputStream in = zip.getInputStream(entry); OutputStream out = new FileOutputStream(target)) {
                    byte[] buffer = new byte[8192];
                    int n;
                    while ((n = in.read(buffer)) > 0) out.write(buffer, 0, n);
                }
            }
        }
    }
}
