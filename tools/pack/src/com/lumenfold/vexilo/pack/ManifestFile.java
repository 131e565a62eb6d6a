package com.lumenfold.vexilo.pack;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Locale;
import javax.xml.XMLConstants;
import javax.xml.parsers.DocumentBuilder;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.parsers.ParserConfigurationException;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.xml.sax.ErrorHandler;
import org.xml.sax.SAXException;
import org.xml.sax.SAXParseException;

/**
 * A user's application manifest, checked the way Windows reads it before it starts a program:
 * a malformed one stops the program from starting at all, so it is refused here. The parser
 * reads no DTD and no external entity: a DOCTYPE is refused outright.
 */
final class ManifestFile {
    static final String NAMESPACE = "urn:schemas-microsoft-com:asm.v1";
    private static final int MAX_SIZE = 1 << 20;

    private ManifestFile() {
    }

    static byte[] read(Path path) throws PackException {
        byte[] data = Inputs.read(path, "manifest");
        String where = "manifest " + path + ": ";
        if (data.length > MAX_SIZE) {
            throw new PackException(where + "larger than " + (MAX_SIZE >> 20) + " MiB");
        }
        boolean utf16 = startsWith(data, 0xFF, 0xFE) || startsWith(data, 0xFE, 0xFF);
        if (!utf16) {
            if (startsWith(data, 0x00, '<') || startsWith(data, '<', 0x00)) {
                throw new PackException(where + "UTF-16 without a byte-order mark; save it as UTF-8, or as UTF-16 "
                        + "with a byte-order mark");
            }
            try {
                StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                        .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(data));
            } catch (CharacterCodingException e) {
                throw new PackException(where + "not UTF-8 text (UTF-16 needs a byte-order mark)");
            }
        }
        Document document = parse(data, where);
        String declared = document.getXmlEncoding();
        if (declared != null) {
            String name = declared.toUpperCase(Locale.ROOT);
            boolean fits = utf16 ? name.startsWith("UTF-16") : name.equals("UTF-8");
            if (!fits) {
                throw new PackException(where + "declares encoding \"" + declared + "\" but is "
                        + (utf16 ? "UTF-16" : "UTF-8"));
            }
        }
        Element root = document.getDocumentElement();
        if (!"assembly".equals(root.getLocalName()) || !NAMESPACE.equals(root.getNamespaceURI())) {
            throw new PackException(where + "not an application manifest: the root must be <assembly xmlns=\""
                    + NAMESPACE + "\">, not <" + root.getTagName() + ">"
                    + (root.getNamespaceURI() == null ? " without a namespace" : " in " + root.getNamespaceURI()));
        }
        if (!"1.0".equals(root.getAttribute("manifestVersion"))) {
            throw new PackException(where + "<assembly> needs manifestVersion=\"1.0\"");
        }
        return data;
    }

    private static Document parse(byte[] data, String where) throws PackException {
        try {
            DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
            factory.setNamespaceAware(true);
            factory.setFeature(XMLConstants.FEATURE_SECURE_PROCESSING, true);
            factory.setFeature("http://apache.org/xml/features/disallow-doctype-decl", true);
            factory.setFeature("http://xml.org/sax/features/external-general-entities", false);
            factory.setFeature("http://xml.org/sax/features/external-parameter-entities", false);
            factory.setFeature("http://apache.org/xml/features/nonvalidating/load-external-dtd", false);
            factory.setXIncludeAware(false);
            factory.setExpandEntityReferences(false);
            DocumentBuilder builder = factory.newDocumentBuilder();
            builder.setEntityResolver((publicId, systemId) -> {
                throw new SAXException("external entity " + systemId + " refused");
            });
            // The default handler prints to standard error; every problem is one message here.
            builder.setErrorHandler(new ErrorHandler() {
                @Override
                public void warning(SAXParseException e) {
                }

                @Override
                public void error(SAXParseException e) throws SAXException {
                    throw e;
                }

                @Override
                public void fatalError(SAXParseException e) throws SAXException {
                    throw e;
                }
            });
            return builder.parse(new ByteArrayInputStream(data));
        } catch (SAXParseException e) {
            throw new PackException(where + "not well-formed XML (line " + e.getLineNumber() + ", column "
                    + e.getColumnNumber() + "): " + e.getMessage());
        } catch (SAXException | IOException e) {
            throw new PackException(where + "not well-formed XML: " + e.getMessage());
        } catch (ParserConfigurationException e) {
            throw new IllegalStateException("the runtime's XML parser lacks a safety feature", e);
        }
    }

    private static boolean startsWith(byte[] data, int first, int second) {
        return data.length >= 2 && (data[0] & 0xFF) == first && (data[1] & 0xFF) == second;
    }
}
